// Notes both front ends add to an error, beside its message: what a user needs to see
// why it happened or what to try next. The tool writes them on its error lines; the
// module adds them to the exception as notes (`__notes__`, shown under the message),
// so the message itself stays as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"

namespace quarrow::app {

// "the file is truncated: the database owns N pages, the file holds M" when the
// database's space tree owns pages past the end of the file (a read that meets a
// missing page then fails for that reason); "" otherwise.
std::string truncation_note(const Database& db);

// "warning: the database was not shut down cleanly; ..." with the hint to look at its
// transaction logs, when the header's state says recovery would still run on it (a
// dirty shutdown: its latest changes, and sometimes all its rows, may be in the logs
// only); "" for a database in a clean state.
std::string dirty_note(const Database& db);

// The known names closest to `query`, best first, at most three: every name equal to
// it but for ASCII letter case; failing that, the names within a small edit distance
// (letter case ignored; at most a third of the query's length, and at least 2).
std::vector<std::string> closest_names(std::string_view query, const std::vector<std::string>& known);

// "did you mean 'A'?", "did you mean 'A' or 'B'?", "did you mean 'A', 'B' or 'C'?";
// "" for no names.
std::string did_you_mean(const std::vector<std::string>& names);

// The suggestion for a table that is not in `db`: did_you_mean over its table names
// (as text), or "".
std::string table_suggestion(const Database& db, std::string_view table_text);

}  // namespace quarrow::app
