// quarrow export FILE... -o DIR: tables into files, on several threads.
//
// One input file writes DIR/{table}.jsonl exactly as the module's export_all names
// and writes them; several write DIR/{folder}/{table}.jsonl (see cli/folders.h).
// The command runs in steps: the request is parsed, the plan made (inputs opened,
// folders and output names chosen, tasks formed, existing outputs found), the tasks
// run, and the summaries rendered. Each table is one
// task for the thread pool (one reader per task over the shared, immutable Database);
// every task writes only its own file, so the output is the same for any --jobs.
// Errors are reported in task order, whatever order the threads finish in. A large
// table is shared out over all the threads by stretches of its leaf pages, after the
// other tasks, with the same output.
#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "cli/commands.h"
#include "cli/folders.h"
#include "cli/names.h"
#include "cli/pool.h"
#include "cli/split_table.h"
#include "cli/views.h"
#include "export/export_file.h"

namespace quarrow::cli {

const std::string_view kExportHelp =
    "usage: quarrow export [OPTIONS] FILE... -o DIR\n"
    "\n"
    "Writes every table (or the ones named) of each file to DIR/{table}.jsonl, as the\n"
    "module's export_all does. With several files, each gets its own folder:\n"
    "DIR/{file name}/{table}.jsonl; files of the same name get the shortest end of\n"
    "their paths that tells them apart (ev/pc1/SRUDB.dat, ev/pc2/SRUDB.dat: folders\n"
    "pc1_SRUDB.dat and pc2_SRUDB.dat). The output is the same for any number of jobs.\n"
    "Existing output files are left alone (exit status 2) unless --force is given. A\n"
    "line per file on the standard error sums up what was written.\n"
    "\n"
    "  -o, --output DIR   output directory (created with its parents)\n"
    "  -t, --tables A,B   only these tables (spaces around the names are ignored)\n"
    "  -f, --format F     jsonl (default) or csv (files named {table}.csv)\n"
    "  -d, --decoded      typed values (see 'quarrow dump --help')\n"
    "  -n, --limit N      at most N records per table\n"
    "      --columns A,B  only these columns; tables with none of them are not written\n"
    "  -j, --jobs N       threads (default: the number of processors); a large table is\n"
    "                     shared out over them too\n"
    "      --force        replace existing output files\n"
    "  -q, --quiet        no progress display and no summary\n"
    "      --views        every view of the database's profile instead of the tables,\n"
    "                     as DIR/{view}.jsonl (or .csv); --columns, --force and the\n"
    "                     summary line as for tables\n"
    "      --profile F    a profile file tried before the built-in ones\n"
    "      --logs DIR     read the databases as replaying the transaction logs in DIR\n"
    "                     leaves them; no output may land on a file of DIR\n";

namespace {

const std::vector<OptionSpec> kExportOptions = {
    {"output", 'o', true}, {"tables", 't', true}, {"format", 'f', true}, {"limit", 'n', true},
    {"decoded", 'd', false}, {"jobs", 'j', true},  {"quiet", 'q', false}, {"force", 0, false},
    {"columns", 0, true},
    {"views", 0, false},     {"profile", 0, true},  kLogsOption};

using Clock = std::chrono::steady_clock;

struct ExportRequest {
  std::vector<std::string> paths;
  std::string output;
  std::optional<std::vector<std::string>> tables;  // --tables, trimmed
  StreamOptions options;
  unsigned jobs = 1;
  bool quiet = false;
  bool force = false;
  std::optional<Arguments> views;  // --views: the arguments for cli/views.cpp
  std::optional<std::string> logs;  // --logs DIR
};

// What was written for one input file, summed over its tasks.
struct FileTally {
  std::mutex mutex;
  std::uint64_t tables = 0;
  std::uint64_t records = 0;
  std::uint64_t bytes = 0;
  std::optional<Clock::time_point> started;
  Clock::time_point finished;
};

struct InputFile {
  std::string path;
  std::unique_ptr<Database> db;
  std::string output_dir;
  std::optional<FileIdentity> identity;
  std::optional<std::string> open_error;  // the line reporting it
  std::unique_ptr<FileTally> tally = std::make_unique<FileTally>();
};

struct TableJob {
  std::string name;  // looked up by these bytes, as export_all looks up get_tables' names
  std::string output_path;
  std::optional<EseError> refused;  // an unsafe name: nothing is written
};

// The tables of one file whose output names differ only in ASCII letter case: on a
// case-insensitive file system they are one file, so they are written one after the
// other by one task, the later replacing the earlier as under export_all.
struct Task {
  const InputFile* file = nullptr;
  std::vector<TableJob> tables;
};

std::string fold_case(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<ExportRequest> parse_export(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("export", raw, kExportOptions);
  if (!args) return std::nullopt;
  if (args->positionals.empty()) {
    usage_error("export", "no database file given");
    return std::nullopt;
  }
  const std::string* output = args->value("output");
  if (output == nullptr) {
    usage_error("export", "no output directory given (-o DIR)");
    return std::nullopt;
  }
  ExportRequest request;
  if (args->flag("views")) request.views = *args;
  request.paths = args->positionals;
  request.output = *output;
  if (!stream_options("export", *args, request.options) || !jobs_option("export", *args, request.jobs)) {
    return std::nullopt;
  }
  if (const std::string* list = args->value("tables")) request.tables = split_list(*list);
  request.quiet = args->flag("quiet");
  request.force = args->flag("force");
  request.logs = logs_option(*args);
  return request;
}

// "quarrow: {file}: 12 tables, 3456 records, 1.5 MiB in 0.42 s -> {dir}"
std::string summary_line(const InputFile& file) {
  const FileTally& t = *file.tally;
  const double seconds =
      t.started ? std::chrono::duration<double>(t.finished - *t.started).count() : 0.0;
  char time[32];
  std::snprintf(time, sizeof time, "%.2f s", seconds);
  return file_error_line(file.path, std::to_string(t.tables) + (t.tables == 1 ? " table, " : " tables, ") +
                                        std::to_string(t.records) + (t.records == 1 ? " record, " : " records, ") +
                                        size_text(t.bytes) + " in " + time + " -> " + file.output_dir);
}

// Reports the messages of finished tasks in task order, as soon as all tasks before
// them have finished too.
class OrderedReport {
 public:
  OrderedReport(std::size_t tasks, Progress& progress) : messages_(tasks), done_(tasks, false), progress_(progress) {}

  void finish(std::size_t task, std::vector<std::string> messages) {
    std::lock_guard lock(mutex_);
    messages_[task] = std::move(messages);
    done_[task] = true;
    while (next_ < done_.size() && done_[next_]) {
      for (const std::string& line : messages_[next_]) progress_.message(line);
      if (!messages_[next_].empty()) failed_ = true;
      messages_[next_].clear();
      ++next_;
    }
  }
  bool failed() const { return failed_; }

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::string>> messages_;
  std::vector<bool> done_;
  std::size_t next_ = 0;
  bool failed_ = false;
  Progress& progress_;
};

}  // namespace

// An output file that is there already: a regular file (through links) is replaced by
// an export, so it is left alone without --force. Devices and pipes are written to.
bool existing_output(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
}

// "1.5 MiB", "830 KiB", "12 bytes".
std::string size_text(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(units)) {
    value /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return buf;
}

namespace {

// The input files in the order given, each with its output folder (several files: one
// folder per file, named after it) and its identity. Fails with the reason the folder
// names cannot be chosen.
Result<std::vector<InputFile>> plan_files(const ExportRequest& request) {
  const bool several = request.paths.size() > 1;
  std::vector<std::string> folders;
  if (several) {
    auto chosen = input_folders(request.paths);
    if (!chosen) return std::move(chosen).error();
    folders = std::move(chosen).value();
  }
  std::vector<InputFile> files;
  for (std::size_t i = 0; i < request.paths.size(); ++i) {
    InputFile file;
    file.path = request.paths[i];
    file.output_dir = several ? output_file_path(request.output, folders[i]) : request.output;
    file.identity = file_identity(file.path);
    files.push_back(std::move(file));
  }
  return files;
}

// The tasks of one opened file: a task per output file name, so that tables whose
// names differ only in letter case are written one after the other by one task.
void plan_tasks(const InputFile& file, const ExportRequest& request, std::vector<Task>& tasks) {
  const char* extension = request.options.format == Format::Csv ? ".csv" : ".jsonl";
  const std::vector<std::string> names = request.tables ? *request.tables : table_names(*file.db);
  std::set<std::string> seen;
  std::map<std::string, std::size_t> task_by_file_name;
  for (const std::string& name : names) {
    if (!seen.insert(name).second) continue;  // the same table twice: one file, written once
    TableJob job;
    job.name = name;
    std::string file_name;
    if (auto jsonl = export_file_name(name)) {
      file_name = jsonl->substr(0, jsonl->size() - std::string_view(".jsonl").size()) + extension;
      job.output_path = output_file_path(file.output_dir, file_name);
    } else {
      job.refused = std::move(jsonl).error();
    }
    const std::string key = fold_case(file_name);
    auto found = job.refused ? task_by_file_name.end() : task_by_file_name.find(key);
    if (found != task_by_file_name.end()) {
      tasks[found->second].tables.push_back(std::move(job));
      continue;
    }
    if (!job.refused) task_by_file_name.emplace(key, tasks.size());
    tasks.push_back(Task{&file, {}});
    tasks.back().tables.push_back(std::move(job));
  }
}

// The first output file that is there already and is no input (an output that is an
// input is refused per table when it is written), or nullptr.
const std::string* first_existing_output(const std::vector<Task>& tasks, const std::vector<FileIdentity>& inputs) {
  for (const Task& task : tasks) {
    for (const TableJob& job : task.tables) {
      if (job.refused || !existing_output(job.output_path)) continue;
      if (const auto target = file_identity(job.output_path);
          target && std::find(inputs.begin(), inputs.end(), *target) != inputs.end()) {
        continue;
      }
      return &job.output_path;
    }
  }
  return nullptr;
}

// Makes each opened file's output folder; a file whose folder cannot be made is
// reported and closed (its tasks then write nothing). Open failures are reported here
// too, in file order. False when a folder could not be made.
bool make_output_folders(std::vector<InputFile>& files, Progress& progress) {
  bool made_all = true;
  for (InputFile& file : files) {
    if (file.open_error) progress.message(*file.open_error);
    if (!file.db) continue;
    if (Status made = create_output_directory(file.output_dir); !made) {
      progress.message(file_error_line(file.path, made.error().message()));
      made_all = false;
      file.db.reset();
    }
  }
  return made_all;
}

// --columns: the first name that no table to be written has.
std::optional<std::string> column_not_found(const StreamOptions& options, const std::vector<Task>& tasks) {
  std::vector<const TableInfo*> tables;
  for (const Task& task : tasks) {
    if (!task.file->db) continue;
    for (const TableJob& job : task.tables) {
      if (const TableInfo* table = task.file->db->catalog().find(job.name)) tables.push_back(table);
    }
  }
  return missing_column(options, tables);
}

// The parallel run of the tasks. A task whose one table is large is not written by
// the pool: it waits (with its leaf pages listed) and is then written by every thread
// together.
class ExportRun {
 public:
  ExportRun(const std::vector<Task>& tasks, const std::vector<FileIdentity>& inputs, const StreamOptions& options,
            unsigned jobs, Progress& progress)
      : tasks_(tasks),
        inputs_(inputs),
        options_(options),
        columns_(options.columns ? &*options.columns : nullptr),
        jobs_(jobs),
        progress_(progress),
        deferred_(tasks.size()),
        report_(tasks.size(), progress) {}

  // True when every task wrote what it had to.
  bool run() {
    run_parallel(jobs_, tasks_.size(), [&](std::size_t i) { run_task(i, jobs_ > 1); });
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
      if (deferred_[i]) run_task(i, false);
    }
    return !report_.failed();
  }

 private:
  enum class Outcome : std::uint8_t { Done, Deferred };

  void run_task(std::size_t i, bool may_defer) {
    const Task& task = tasks_[i];
    const InputFile& file = *task.file;
    std::vector<std::string> messages;
    if (!file.db) {  // its output directory could not be made
      report_.finish(i, {});
      return;
    }
    FileTally tally_here;
    const Clock::time_point started = Clock::now();
    for (const TableJob& job : task.tables) {
      if (write_table(i, file, job, may_defer && task.tables.size() == 1, tally_here, messages) == Outcome::Deferred) {
        return;
      }
    }
    add_to_tally(*file.tally, tally_here, started);
    report_.finish(i, std::move(messages));
  }

  Outcome write_table(std::size_t i, const InputFile& file, const TableJob& job, bool may_defer,
                      FileTally& tally_here, std::vector<std::string>& messages) {
    if (job.refused) {
      messages.push_back(table_error_line(file.path, job.name, job.refused->message()));
      return Outcome::Done;
    }
    const TableInfo* found = file.db->catalog().find(job.name);
    if (columns_ && found != nullptr && !table_has_any(*found, *columns_)) return Outcome::Done;
    auto reader = open_table_reader(*file.db, job.name, columns_);
    if (!reader) {
      for (std::string& line : table_lookup_lines(*file.db, file.path, job.name, reader.error())) {
        messages.push_back(std::move(line));
      }
      return Outcome::Done;
    }
    if (may_defer) {
      deferred_[i] = pages_to_split(*file.db, reader->table(), jobs_, options_);
      if (deferred_[i]) return Outcome::Deferred;
    }
    progress_.set_current(progress_label(file.path, job.name));
    // No output lands on an input: checked by name (an input is often read-only, so
    // opening it would fail with a less telling error) and again on the opened file.
    const auto refusal = [&](const FileIdentity& target) -> Status {
      if (std::find(inputs_.begin(), inputs_.end(), target) == inputs_.end()) return Status::success();
      const char* what = target == file.identity ? "the database file itself" : "another input database file";
      return EseError::refused(std::string("the output path is ") + what + ": " + job.output_path)
          .in(ErrorContext::CreatingOutputFile);
    };
    if (const auto target = file_identity(job.output_path)) {
      if (Status refused = refusal(*target); !refused) {
        messages.push_back(table_error_line(file.path, job.name, refused.error().message()));
        return Outcome::Done;
      }
    }
    auto out = Output::create(job.output_path, refusal);
    if (!out) {
      messages.push_back(table_error_line(file.path, job.name, out.error().message()));
      return Outcome::Done;
    }
    StreamCounts counts;
    const Status streamed =
        deferred_[i] ? stream_table_split(*file.db, *reader, *deferred_[i], options_, *out, progress_, jobs_, &counts)
                     : stream_table(*file.db, *reader, options_, *out, progress_, &counts);
    if (!streamed) {
      messages.push_back(table_error_line(file.path, job.name, with_read_note(*file.db, streamed.error())));
    } else {
      ++tally_here.tables;
    }
    tally_here.records += counts.records;
    tally_here.bytes += counts.bytes;
    return Outcome::Done;
  }

  static void add_to_tally(FileTally& tally, const FileTally& here, Clock::time_point started) {
    std::lock_guard lock(tally.mutex);
    tally.tables += here.tables;
    tally.records += here.records;
    tally.bytes += here.bytes;
    if (!tally.started || started < *tally.started) tally.started = started;
    tally.finished = std::max(tally.finished, Clock::now());
  }

  const std::vector<Task>& tasks_;
  const std::vector<FileIdentity>& inputs_;
  const StreamOptions& options_;
  const ColumnSelection* columns_;
  unsigned jobs_;
  Progress& progress_;
  std::vector<std::optional<LeafPages>> deferred_;
  OrderedReport report_;
};

}  // namespace

int run_export(const std::vector<std::string_view>& raw, const Context& context) {
  const auto request = parse_export(raw);
  if (!request) return kExitUsage;
  if (request->views) return run_export_views(*request->views, request->options, request->jobs, context);

  auto planned = plan_files(*request);
  if (!planned) return usage_error("export", planned.error().message());
  std::vector<InputFile> files = std::move(planned).value();
  // No output may land on an input file, by whatever name it is reached.
  std::vector<FileIdentity> inputs;
  for (const InputFile& file : files) {
    if (file.identity) inputs.push_back(*file.identity);
  }
  if (request->logs) add_log_identities(*request->logs, inputs);

  Progress progress(context.stderr_is_terminal && !request->quiet);
  bool failed = false;
  std::vector<Task> tasks;
  for (InputFile& file : files) {
    app::Opened opened = open_database(file.path, request->logs);
    if (!opened) {
      file.open_error = file_error_line(file.path, opened.failure.message);
      failed = true;
      continue;
    }
    file.db = std::move(opened.database);
    progress.add_total(file.db->total_pages());
    plan_tasks(file, *request, tasks);
  }

  // Nothing is replaced unasked: the first existing output file stops the export
  // before anything is written.
  if (!request->force) {
    if (const std::string* existing = first_existing_output(tasks, inputs)) {
      progress.stop();
      return usage_error("export", "output file '" + *existing + "' exists; --force replaces it");
    }
  }
  if (!make_output_folders(files, progress)) failed = true;
  // --columns: a name that no table to be written has is an error before anything is
  // written; tables with none of the names are passed over.
  if (request->options.columns) {
    if (const auto missing = column_not_found(request->options, tasks)) {
      progress.stop();
      std::fprintf(stderr, "quarrow: Column not found: %s\n", missing->c_str());
      return kExitFailed;
    }
  }

  ExportRun run(tasks, inputs, request->options, request->jobs, progress);
  if (!run.run()) failed = true;
  progress.stop();
  if (!request->quiet) {
    for (const InputFile& file : files) {
      if (file.db) std::fprintf(stderr, "%s\n", summary_line(file).c_str());
    }
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quarrow::cli
