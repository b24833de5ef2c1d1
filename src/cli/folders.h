// The output folders of an export of several files: each file's name, and for files
// that share a name, the shortest end of their paths that tells them apart, its parts
// joined by "_" (ev/pc1/SRUDB.dat and ev/pc2/SRUDB.dat: "pc1_SRUDB.dat" and
// "pc2_SRUDB.dat"). Only the paths' text is compared (made absolute and normal), so
// two names of one file by way of a link are two inputs.
#pragma once

#include <string>
#include <vector>

#include "error/ese_error.h"

namespace quarrow::cli {

// One folder name per path, in order. Refused: "'{path}' does not name a file", or
// "'{path}' is given twice" when even the full paths coincide.
Result<std::vector<std::string>> input_folders(const std::vector<std::string>& paths);

}  // namespace quarrow::cli
