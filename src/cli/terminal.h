// The few questions the tool asks the operating system directly. Everything else goes
// through std::filesystem, the C library and the export helpers, so this is the only
// file of the tool with a per-platform branch.
#pragma once

#include <cstdio>

namespace quarrow::cli {

// Whether the stream is attached to a terminal (progress is drawn only then).
bool is_terminal(std::FILE* stream);

// Lines of the terminal the stream is attached to: $LINES when set, else what the
// terminal reports, else 24.
unsigned terminal_rows(std::FILE* stream);
// How many rows of `dump --format table` fill the standard output's terminal, leaving
// lines for the grid's rules, its header and the prompt.
unsigned screenful_rows();

// Number of threads the machine runs at once; at least 1.
unsigned hardware_threads();

// Makes the standard output write bytes unchanged: on Windows the C library would
// otherwise turn every "\n" into "\r\n". Nothing to do elsewhere.
void set_binary_stdout();

}  // namespace quarrow::cli
