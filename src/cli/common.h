// What the commands share: exit statuses, the version, the command context, and the
// headers of the shared jobs (opening and messages, options, the table stream).
#pragma once

#include "cli/args.h"
#include "cli/open.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "cli/stream.h"
#include "version.h"

namespace quarrow::cli {

// Exit statuses: everything done; some file or table failed (the others were still
// done); the command line was wrong (nothing was done).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

inline constexpr char kVersion[] = QUARROW_VERSION;

// What every command is told about its surroundings.
struct Context {
  bool stderr_is_terminal = false;
  bool stdout_is_terminal = false;
};

}  // namespace quarrow::cli
