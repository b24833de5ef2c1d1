// EseDatabase.report(path, *, logs=None): the evidence report of the open database as
// one HTML file (see report/report.h).
#include "binding/report.h"

#include <optional>
#include <string>
#include <vector>

#include "binding/args.h"
#include "binding/convert.h"
#include "binding/reading.h"
#include "report/report.h"

namespace quarrow::python {

const char kReportDoc[] =
    "report($self, path, *, logs=None)\n--\n\n"
    "Write the evidence report of this database as one self-contained HTML file: header\n"
    "facts and the verify summary, catalog problems, tables and views with row counts,\n"
    "columns and sizes, a map of every page coloured by what it holds (catalog, table\n"
    "data, index, long values, space trees, unused, damaged) with recovered records and\n"
    "carved text marked on it, and with logs the log chain (generations present, gaps,\n"
    "what the database needs, the replay verdict). The file needs no network and no other\n"
    "file to open in a browser; it stays a few megabytes for a database of any size.\n\n"
    "Args:\n"
    "    path: The HTML file to write (str or os.PathLike); never the database itself\n"
    "    logs: A folder of the database's transaction logs (str or os.PathLike), or None\n\n"
    "Returns:\n"
    "    None\n\n"
    "Raises:\n"
    "    IOError: If the file cannot be written, or the path is the database file";

namespace {

constexpr const char* kReportNames[] = {"path", "logs"};
constexpr Signature kReport{"report", kReportNames, 2, 1};

PyObject* write_report(DatabaseState& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[2];
  std::string_view path;
  std::string_view logs;
  PyRef path_text, logs_text;
  if (!keyword_only_after(kReport, nargs, 1) || !parse_arguments(kReport, args, nargs, kwnames, values) ||
      !path_argument(kReport, "path", values[0], path_text, path)) {
    return nullptr;
  }
  if (values[1] != nullptr && values[1] != Py_None && !path_argument(kReport, "logs", values[1], logs_text, logs)) {
    return nullptr;
  }
  // The OS would stop reading a name at a NUL byte and write another file.
  if (path.find('\0') != std::string_view::npos || logs.find('\0') != std::string_view::npos) {
    return raise_message(PyExc_IOError, std::string(context_prefix(ErrorContext::CreatingOutputFile)) +
                                            platform::invalid_name_error().os_error_text());
  }
  std::vector<platform::FileIdentity> evidence;
  if (s.file) evidence.push_back(*s.file);
  Status written;
  {
    // Gathering, rendering and writing touch no Python object.
    GilRelease released;
    report::ReportOptions options{s.path, std::string(logs), s.profile.get()};
    const std::string html = report::render_report_html(report::gather_report(*s.database, options));
    written = report::write_report_file(html, std::string(path), evidence);
  }
  if (!written) return raise_message(PyExc_IOError, written.error().message());
  Py_RETURN_NONE;
}

}  // namespace

PyObject* report_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_database(self, [&](DatabaseState& state) { return write_report(state, args, nargs, kwnames); });
}

}  // namespace quarrow::python
