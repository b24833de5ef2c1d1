// quarrow views FILE, dump --view, export --views: the views that the profiles of
// known databases define (src/profiles), in the tool's output formats.
#include "cli/views.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>

#include "cli/commands.h"
#include "cli/grid.h"
#include "cli/pool.h"
#include "cli/terminal.h"
#include "export/export_file.h"
#include "app/view_fields.h"
#include "export/json_lines.h"
#include "profiles/view_reader.h"
#include "profiles/view_text.h"

namespace quarrow::cli {

const std::string_view kViewsHelp =
    "usage: quarrow views [--profile FILE] [--json] [--logs DIR] FILE...\n"
    "\n"
    "The kind of database each file is (by its tables) and the views its profile\n"
    "defines: each view's name, table and description, then its columns with their\n"
    "types, the stored column each comes from and what the profile notes about it.\n"
    "Built-in profiles: srum, ual, windows_search.\n"
    "\n"
    "      --profile FILE  a profile file (JSON) tried before the built-in ones; one of\n"
    "                      the same name replaces the built-in profile\n"
    "      --json          one JSON object per file\n"
    "      --logs DIR      read the databases as replaying the transaction logs in DIR\n"
    "                      leaves them\n";

namespace {

const std::vector<OptionSpec> kViewsOptions = {
    {"profile", 0, true}, {"json", 0, false}, {"quiet", 'q', false}, kLogsOption};

// The built-in profiles and the one --profile names first.
Result<std::vector<profiles::Profile>> cli_profiles(const Arguments& args) {
  std::vector<profiles::Profile> extra;
  if (const std::string* file = args.value("profile")) {
    auto loaded = profiles::load_profile_file(*file);
    if (!loaded) return std::move(loaded).error();
    extra.push_back(std::move(loaded).value());
  }
  return profiles::merge_profiles(extra);
}

void report_profile_error(const EseError& error) { std::fprintf(stderr, "quarrow: %s\n", error.to_string().c_str()); }

void append_column_json(std::string& out, const profiles::ViewColumn& c) {
  using F = app::ViewColumnField;
  for (const F field : app::kViewColumnFields) {
    out += field == F::Name ? "{\"" : ",\"";
    out += app::view_column_field_name(field);
    out += "\":";
    switch (field) {
      case F::Name: append_json_string(out, c.name); break;
      case F::Type: append_json_string(out, profiles::view_type_name(c)); break;
      case F::Source: append_json_string(out, name_text(c.source)); break;
      case F::Note:
        if (c.note.empty()) out += "null";
        else append_json_string(out, c.note);
        break;
    }
  }
  out += "}";
}

// What one view wrote.
struct ViewCounts {
  std::uint64_t rows = 0;
  std::uint64_t bytes = 0;
  std::uint64_t converted_nulls = 0;  // values a conversion could not read (no failure)
  bool more = false;                  // rows left unread because of the limit
};

// The grid of `dump --format table`: the rows read into memory, laid out once.
Status stream_view_grid(profiles::ViewReader& reader, const StreamOptions& options, Output& out, ViewCounts& counts) {
  const auto& columns = reader.columns();
  std::vector<std::string> header;
  std::vector<bool> right;
  for (const auto& c : columns) {
    header.push_back(grid_cell_text(c.name, kGridCellWidth));
    right.push_back(c.type == profiles::OutType::Int64 || c.type == profiles::OutType::UInt64 ||
                    c.type == profiles::OutType::Float64 || c.type == profiles::OutType::Duration);
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<profiles::Cell> row;
  std::string text;
  Status status = Status::success();
  for (;;) {
    const auto step = reader.next(row);
    if (step == profiles::ViewReader::Step::End) break;
    if (step == profiles::ViewReader::Step::Error) {
      status = reader.error().in(ErrorContext::ReadingRecord);
      break;
    }
    if (options.limit && rows.size() >= *options.limit) {
      counts.more = true;
      break;
    }
    auto& cells = rows.emplace_back();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const profiles::Cell& c = row[k];
      if (c.valid && columns[k].type == profiles::OutType::Binary) {
        cells.push_back(grid_binary_text(c.bytes()));
        continue;
      }
      text.clear();
      cells.push_back(profiles::append_view_text(text, columns[k], c) ? grid_cell_text(text, kGridCellWidth)
                                                                      : std::string(kGridNull));
    }
  }
  const std::string grid = render_grid(header, rows, right);
  counts.rows = rows.size();
  counts.bytes = grid.size();
  counts.converted_nulls = reader.total_failures();
  out.buffer() += grid;
  if (Status st = out.commit(); !st) return st;
  if (Status st = out.finish(); !st) return st;
  return status;
}

// Writes one view into `out` and finishes it; `counts` says what was written, also on
// failure (the rows before a read error are written first).
Status stream_view(profiles::ViewReader& reader, const StreamOptions& options, Output& out, ViewCounts& counts) {
  if (options.format == Format::Table) return stream_view_grid(reader, options, out, counts);
  const auto& columns = reader.columns();
  std::string& buffer = out.buffer();
  std::size_t before = buffer.size();
  if (options.format == Format::Csv) profiles::append_view_csv_header(buffer, columns);
  std::vector<profiles::Cell> row;
  Status status = Status::success();
  while (!options.limit || counts.rows < *options.limit) {
    const auto step = reader.next(row);
    if (step == profiles::ViewReader::Step::End) break;
    if (step == profiles::ViewReader::Step::Error) {
      status = reader.error().in(ErrorContext::ReadingRecord);
      break;
    }
    if (options.format == Format::Csv) profiles::append_view_csv_row(buffer, columns, row);
    else profiles::append_view_json(buffer, columns, row);
    ++counts.rows;
    counts.bytes += buffer.size() - before;
    if (Status st = out.commit(); !st) return st;
    before = buffer.size();
  }
  counts.bytes += buffer.size() - before;
  counts.converted_nulls = reader.total_failures();
  if (Status st = out.finish(); !st) return st;
  return status;
}

// A view's failure as its line says it; for a read that met a missing page of a file
// cut short, with the truncation, and with the view's stored table named.
std::string view_failure_text(const Database& db, const profiles::ViewSpec& view, const EseError& error) {
  std::string text = with_read_note(db, error);
  if (error.kind() != ErrorKind::Io) {
    if (const TableInfo* table = profiles::find_table(db, view.table)) text += " (table " + name_text(table->name) + ")";
  }
  return text;
}

std::string converted_note(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " value could not be converted and is null"
                                     : " values could not be converted and are null");
}

}  // namespace

std::optional<std::string> recognised_profile(const Database& db) {
  const profiles::Profile* p = profiles::recognize(db, profiles::builtin_profiles());
  if (p == nullptr) return std::nullopt;
  return p->name;
}

namespace {

struct ViewsRequest {
  std::vector<std::string> paths;
  bool json = false;
};

// A view that opened on the file: what the listing shows of it.
struct ViewFacts {
  std::string name;
  std::string table;  // the stored table's name, as text
  std::string description;
  std::vector<profiles::ViewColumn> columns;
};

// One file: the profile that knows it (if any), its views that opened, and a line
// for each that did not.
struct ViewsFacts {
  std::string path;
  const profiles::Profile* profile = nullptr;
  std::vector<ViewFacts> views;
  std::vector<std::string> errors;
};

std::optional<ViewsRequest> parse_views(const std::vector<std::string_view>& raw, std::optional<Arguments>& args) {
  args = parse_or_complain("views", raw, kViewsOptions);
  if (!args) return std::nullopt;
  if (args->positionals.empty()) {
    usage_error("views", "no database file given");
    return std::nullopt;
  }
  return ViewsRequest{args->positionals, args->flag("json")};
}

ViewsFacts gather_views(const Database& db, const std::string& path, const std::vector<profiles::Profile>& all) {
  ViewsFacts facts;
  facts.path = path;
  facts.profile = profiles::recognize(db, all);
  if (facts.profile == nullptr) return facts;
  for (const profiles::ViewSpec* v : profiles::available_views(db, *facts.profile)) {
    auto reader = profiles::ViewReader::open(db, *facts.profile, *v);
    if (!reader) {
      facts.errors.push_back(table_error_line(path, v->name, reader.error().to_string()));
      continue;
    }
    facts.views.push_back(
        ViewFacts{v->name, name_text(profiles::find_table(db, v->table)->name), v->description, (*reader)->columns()});
  }
  return facts;
}

std::string render_views_json(const ViewsFacts& f) {
  std::string out = "{\"file\":";
  append_json_string(out, f.path);
  out += ",\"profile\":";
  if (f.profile == nullptr) out += "null";
  else append_json_string(out, f.profile->name);
  out += ",\"views\":[";
  for (std::size_t i = 0; i < f.views.size(); ++i) {
    const ViewFacts& v = f.views[i];
    if (i != 0) out += ",";
    out += "{\"name\":";
    append_json_string(out, v.name);
    out += ",\"table\":";
    append_json_string(out, v.table);
    out += ",\"description\":";
    append_json_string(out, v.description);
    out += ",\"columns\":[";
    for (std::size_t k = 0; k < v.columns.size(); ++k) {
      if (k != 0) out += ",";
      append_column_json(out, v.columns[k]);
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

std::string render_views_text(const ViewsFacts& f) {
  std::string out =
      f.path + ": " + (f.profile == nullptr ? std::string("no profile knows this database") : f.profile->name) + "\n";
  for (const ViewFacts& v : f.views) {
    out += "  " + v.name + "  (" + v.table + ")\n";
    if (!v.description.empty()) out += "    " + v.description + "\n";
    for (const auto& c : v.columns) {
      out += "      " + c.name + "  " + profiles::view_type_name(c);
      if (!c.source.empty() && c.source != c.name) out += "  from " + name_text(c.source);
      if (!c.note.empty()) out += "  -- " + c.note;
      out += "\n";
    }
  }
  return out;
}

}  // namespace

int run_views(const std::vector<std::string_view>& raw, const Context&) {
  std::optional<Arguments> args;
  const auto request = parse_views(raw, args);
  if (!request) return kExitUsage;
  auto profiles_loaded = cli_profiles(*args);
  if (!profiles_loaded) {
    report_profile_error(profiles_loaded.error());
    return kExitFailed;
  }
  const std::vector<profiles::Profile>& all = *profiles_loaded;
  int status = kExitOk;
  for (const std::string& path : request->paths) {
    const auto db = open_or_report(path, logs_option(*args));
    if (!db) {
      status = kExitFailed;
      continue;
    }
    const ViewsFacts facts = gather_views(*db, path, all);
    const std::string out = request->json ? render_views_json(facts) : render_views_text(facts);
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (!facts.errors.empty()) {
      std::fflush(stdout);
      for (const std::string& e : facts.errors) std::fprintf(stderr, "%s\n", e.c_str());
      status = kExitFailed;
    }
  }
  return status;
}

int run_dump_view(const Arguments& args, const StreamOptions& options_in, const Context& context) {
  if (args.positionals.size() != 1) return usage_error("dump", "--view takes a database file alone");
  if (args.flag("decoded")) return usage_error("dump", "--view and --decoded do not go together (views are typed)");
  StreamOptions options = options_in;
  bool screenful = false;
  if (options.format == Format::Table && !options.limit && context.stdout_is_terminal) {
    options.limit = screenful_rows();
    screenful = true;
  }
  auto profiles_loaded = cli_profiles(args);
  if (!profiles_loaded) {
    report_profile_error(profiles_loaded.error());
    return kExitFailed;
  }
  const std::vector<profiles::Profile>& all = *profiles_loaded;
  const std::string& path = args.positionals[0];
  const std::string& name = *args.value("view");
  const auto db = open_or_report(path, logs_option(args));
  if (!db) return kExitFailed;
  const profiles::Profile* profile = profiles::recognize(*db, all);
  const profiles::ViewSpec* view = profile == nullptr ? nullptr : profiles::find_view(*db, *profile, name);
  if (view == nullptr) {
    std::fprintf(stderr, "%s\n",
                 table_error_line(path, name, profile == nullptr ? "View not found: no profile knows this database"
                                                                 : "View not found: " + name + " (see 'quarrow views')")
                     .c_str());
    return kExitFailed;
  }
  const std::vector<std::string>* columns = options.columns ? &options.columns->names : nullptr;
  auto reader = profiles::ViewReader::open(*db, *profile, *view, columns);
  if (!reader) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, reader.error().to_string()).c_str());
    return kExitFailed;
  }
  set_binary_stdout();
  Output out = Output::standard_output();
  ViewCounts counts;
  const Status done = stream_view(**reader, options, out, counts);
  if (!done) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, view_failure_text(*db, *view, done.error())).c_str());
    return kExitFailed;
  }
  if (counts.converted_nulls != 0 && !args.flag("quiet")) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, converted_note(counts.converted_nulls)).c_str());
  }
  if (screenful && counts.more) {
    std::fprintf(stderr, "quarrow: the first %llu rows; --limit N shows more\n",
                 static_cast<unsigned long long>(*options.limit));
  }
  return kExitOk;
}

namespace {

// `quarrow export --views`: each input's views to files, by job (plan the inputs and
// their views, check the columns and the existing files, make the folders, write the
// views in parallel, sum up).
class ViewsExport {
 public:
  ViewsExport(const Arguments& args, const StreamOptions& options, const std::vector<profiles::Profile>& all,
              const Context& context)
      : args_(args),
        options_(options),
        all_(all),
        output_(*args.value("output")),
        extension_(options.format == Format::Csv ? ".csv" : ".jsonl"),
        quiet_(args.flag("quiet")),
        progress_(context.stderr_is_terminal && !quiet_) {}

  // The exit status of a usage error found before anything is written, or nullopt.
  std::optional<int> plan();
  void run(unsigned jobs);
  int finish();

 private:
  struct Input {
    std::string path;
    std::unique_ptr<Database> db;
    const profiles::Profile* profile = nullptr;
    std::string dir;
    ViewCounts written;  // summed over its views
    std::uint64_t views = 0;
    std::optional<std::chrono::steady_clock::time_point> started;
    std::chrono::steady_clock::time_point finished;
    std::mutex mutex;
  };
  struct Job {
    Input* input;
    const profiles::ViewSpec* view;
    std::string path;
    std::vector<std::string> columns;  // --columns: the names this view has, in the order given
  };

  std::optional<int> plan_inputs();
  void plan_jobs(Input& in);
  std::optional<int> check_columns();
  std::optional<int> check_existing();
  void make_folders();
  void write_view(const Job& job, std::vector<std::string>& messages);

  const Arguments& args_;
  const StreamOptions& options_;
  const std::vector<profiles::Profile>& all_;
  const std::string output_;
  const char* extension_;
  const bool quiet_;
  Progress progress_;
  std::deque<Input> inputs_;
  std::vector<FileIdentity> identities_;  // inputs and log files: never written over
  std::vector<Job> jobs_;
  std::set<std::string> columns_seen_;  // --columns names some view to be written has
  bool any_views_ = false;
  bool failed_ = false;
};

std::optional<int> ViewsExport::plan() {
  if (auto usage = plan_inputs()) return usage;
  for (Input& in : inputs_) plan_jobs(in);
  if (auto failure = check_columns()) return failure;
  if (auto usage = check_existing()) return usage;
  make_folders();
  return std::nullopt;
}

std::optional<int> ViewsExport::plan_inputs() {
  std::set<std::string> folders;
  for (const std::string& path : args_.positionals) {
    Input& in = inputs_.emplace_back();
    in.path = path;
    in.dir = output_;
    if (args_.positionals.size() > 1) {
      const std::u8string folder8 =
          std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
      const std::string folder(folder8.begin(), folder8.end());
      if (folder.empty() || folder == "." || folder == ".." || !folders.insert(folder).second) {
        return usage_error("export", "'" + path + "': its file name cannot name its own output folder");
      }
      in.dir = output_file_path(output_, folder);
    }
    if (const auto id = file_identity(path)) identities_.push_back(*id);
  }
  if (const auto logs = logs_option(args_)) add_log_identities(*logs, identities_);
  return std::nullopt;
}

void ViewsExport::plan_jobs(Input& in) {
  app::Opened opened = open_database(in.path, logs_option(args_));
  if (!opened) {
    progress_.message(file_error_line(in.path, opened.failure.message));
    failed_ = true;
    return;
  }
  in.db = std::move(opened.database);
  in.profile = profiles::recognize(*in.db, all_);
  if (in.profile == nullptr) {
    progress_.message(file_error_line(in.path, "no profile knows this database; nothing exported"));
    failed_ = true;
    in.db.reset();
    return;
  }
  for (const profiles::ViewSpec* v : profiles::available_views(*in.db, *in.profile)) {
    any_views_ = true;
    // View names are the profile's own: plain names, safe as file names.
    Job job{&in, v, output_file_path(in.dir, v->name + extension_), {}};
    if (options_.columns) {
      // As with tables: a view with none of the columns is not written.
      auto described = profiles::ViewReader::describe(*in.db, *in.profile, *v);
      if (described) {
        for (const std::string& wanted : options_.columns->names) {
          for (const auto& c : *described) {
            if (c.name == wanted) {
              job.columns.push_back(wanted);
              columns_seen_.insert(wanted);
              break;
            }
          }
        }
        if (job.columns.empty()) continue;
      }
    }
    jobs_.push_back(std::move(job));
  }
}

// --columns: a name that no view to be written has is an error before anything is written.
std::optional<int> ViewsExport::check_columns() {
  if (!options_.columns || !any_views_) return std::nullopt;
  for (const std::string& wanted : options_.columns->names) {
    if (columns_seen_.count(wanted) == 0) {
      progress_.stop();
      std::fprintf(stderr, "quarrow: Column not found: %s\n", wanted.c_str());
      return kExitFailed;
    }
  }
  return std::nullopt;
}

// Nothing is replaced unasked: the first existing output file stops the export before
// anything is written, as for tables. An output that is an input is refused per view.
std::optional<int> ViewsExport::check_existing() {
  if (args_.flag("force")) return std::nullopt;
  for (const Job& job : jobs_) {
    if (!existing_output(job.path)) continue;
    if (const auto target = file_identity(job.path);
        target && std::find(identities_.begin(), identities_.end(), *target) != identities_.end()) {
      continue;
    }
    progress_.stop();
    return usage_error("export", "output file '" + job.path + "' exists; --force replaces it");
  }
  return std::nullopt;
}

void ViewsExport::make_folders() {
  for (Input& in : inputs_) {
    if (!in.db) continue;
    if (Status made = create_output_directory(in.dir); !made) {
      progress_.message(file_error_line(in.path, made.error().message()));
      failed_ = true;
      in.db.reset();
      continue;
    }
    progress_.add_total(in.db->total_pages());
  }
}

void ViewsExport::write_view(const Job& job, std::vector<std::string>& messages) {
  Input& in = *job.input;
  if (!in.db) return;  // its output directory could not be made
  const auto started = std::chrono::steady_clock::now();
  progress_.set_current(progress_label(in.path, job.view->name));
  auto reader = profiles::ViewReader::open(*in.db, *in.profile, *job.view, options_.columns ? &job.columns : nullptr);
  if (!reader) {
    messages.push_back(table_error_line(in.path, job.view->name, reader.error().to_string()));
    return;
  }
  const auto refusal = [&](const FileIdentity& target) -> Status {
    if (std::find(identities_.begin(), identities_.end(), target) == identities_.end()) return Status::success();
    return EseError::refused("the output path is an input database file: " + job.path)
        .in(ErrorContext::CreatingOutputFile);
  };
  auto out = Output::create(job.path, refusal);
  if (!out) {
    messages.push_back(table_error_line(in.path, job.view->name, out.error().message()));
    return;
  }
  ViewCounts counts;
  const Status done = stream_view(**reader, options_, *out, counts);
  if (!done) {
    messages.push_back(table_error_line(in.path, job.view->name, view_failure_text(*in.db, *job.view, done.error())));
  }
  const auto finished = std::chrono::steady_clock::now();
  std::lock_guard lock(in.mutex);
  if (done) ++in.views;
  in.written.rows += counts.rows;
  in.written.bytes += counts.bytes;
  if (!in.started || started < *in.started) in.started = started;
  in.finished = std::max(in.finished, finished);
}

void ViewsExport::run(unsigned jobs) {
  std::vector<std::vector<std::string>> messages(jobs_.size());
  run_parallel(jobs, jobs_.size(), [&](std::size_t i) { write_view(jobs_[i], messages[i]); });
  for (const auto& list : messages) {
    for (const std::string& m : list) progress_.message(m);
    failed_ = failed_ || !list.empty();
  }
  progress_.stop();
}

// A line per input on the standard error: views, rows and bytes written, and the time.
int ViewsExport::finish() {
  if (!quiet_) {
    for (const Input& in : inputs_) {
      if (!in.db) continue;
      char time[32];
      const double seconds = in.started ? std::chrono::duration<double>(in.finished - *in.started).count() : 0.0;
      std::snprintf(time, sizeof time, "%.2f s", seconds);
      std::fprintf(stderr, "%s\n",
                   file_error_line(in.path, std::to_string(in.views) + (in.views == 1 ? " view, " : " views, ") +
                                                std::to_string(in.written.rows) +
                                                (in.written.rows == 1 ? " row, " : " rows, ") +
                                                size_text(in.written.bytes) + " in " + time + " -> " + in.dir)
                       .c_str());
    }
  }
  return failed_ ? kExitFailed : kExitOk;
}

}  // namespace

int run_export_views(const Arguments& args, const StreamOptions& options, unsigned jobs, const Context& context) {
  if (args.value("tables") != nullptr) return usage_error("export", "--views and --tables do not go together");
  if (options.decoded) return usage_error("export", "--views and --decoded do not go together (views are typed)");
  auto profiles_loaded = cli_profiles(args);
  if (!profiles_loaded) {
    report_profile_error(profiles_loaded.error());
    return kExitFailed;
  }
  ViewsExport exporting(args, options, *profiles_loaded, context);
  if (auto stop = exporting.plan()) return *stop;
  exporting.run(jobs);
  return exporting.finish();
}

}  // namespace quarrow::cli
