// EseDatabase(path, logs=...): the logs argument, and replay_report().
#pragma once

#include <Python.h>

#include <optional>
#include <string>

#include "binding/args.h"
#include "binding/ese_database.h"

namespace quarrow::python {

// The folder of logs to replay, from the constructor's `logs` argument: None or False
// (or not given) for none, True for the database file's own folder, else a path.
// False with an exception set for any other value.
bool logs_argument(const Signature& sig, PyObject* value, const std::string& database_path,
                   std::optional<std::string>& out);

// Replays the logs onto the opened database in `state` and puts the replayed database
// and its report in its place. False with FileNotFoundError (no such log folder), the
// OSError subclass of a system error, or IOError naming the log position and page
// where the replay stopped.
bool replay_into(DatabaseState& state, const std::string& logs);

// EseDatabase.replay_report(): the report as a dict, or None for a database opened
// without logs.
PyObject* replay_report(DatabaseState& state);
extern const char* const kReplayReportDoc;

}  // namespace quarrow::python
