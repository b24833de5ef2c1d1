// quarrow export FILE... -o DIR: tables into files, on several threads.
//
// One input file writes DIR/{table}.jsonl exactly as the module's export_all names
// and writes them; several write DIR/{file name}/{table}.jsonl. Each table is one
// task for the thread pool (one reader per task over the shared, immutable Database);
// every task writes only its own file, so the output is the same for any --jobs.
// Errors are reported in task order, whatever order the threads finish in. A large
// table is shared out over all the threads by stretches of its leaf pages, after the
// other tasks, with the same output.
#include <algorithm>
#include <cstdio>
#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "cli/commands.h"
#include "cli/pool.h"
#include "cli/split_table.h"
#include "cli/views.h"
#include "export/export_file.h"

namespace quarrow::cli {
namespace {

const std::vector<OptionSpec> kExportOptions = {
    {"output", 'o', true}, {"tables", 't', true}, {"format", 'f', true},
    {"limit", 'n', true}, {"decoded", 'd', false},  {"jobs", 'j', true},   {"quiet", 'q', false},
    {"columns", 0, true},
    {"views", 0, false},  {"profile", 0, true}};

struct InputFile {
  std::string path;
  std::unique_ptr<Database> db;
  std::string output_dir;
  std::optional<FileIdentity> identity;
};

struct TableJob {
  std::string name;  // looked up by these bytes, as export_all looks up get_tables' names
  std::string output_path;
  std::optional<std::string> refused;  // an unsafe name: the message, nothing is written
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

std::vector<std::string> split_names(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
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

int run_export(const std::vector<std::string_view>& raw, const Context& context) {
  const auto args = parse_or_complain("export", raw, kExportOptions);
  if (!args) return kExitUsage;
  if (args->positionals.empty()) return usage_error("export", "no database file given");
  const std::string* output = args->value("output");
  if (output == nullptr) return usage_error("export", "no output directory given (-o DIR)");
  StreamOptions options;
  unsigned jobs = 1;
  if (!stream_options("export", *args, options) || !jobs_option("export", *args, jobs)) return kExitUsage;
  if (args->flag("views")) return run_export_views(*args, options, jobs, context);
  const char* extension = options.format == Format::Csv ? ".csv" : ".jsonl";

  // Several files: one folder per file, named after the file. Two inputs with the same
  // file name would write into one folder and overwrite each other's tables.
  const bool several = args->positionals.size() > 1;
  std::vector<InputFile> files;
  std::set<std::string> folders;
  for (const std::string& path : args->positionals) {
    InputFile file;
    file.path = path;
    file.output_dir = *output;
    if (several) {
      // Through char8_t: a narrow std::string is read in the ANSI code page on Windows.
      const std::u8string folder8 =
          std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
      const std::string folder(folder8.begin(), folder8.end());
      if (folder.empty() || folder == "." || folder == "..") {
        return usage_error("export", "'" + path + "' does not name a file");
      }
      if (!folders.insert(folder).second) {
        return usage_error("export", "two input files are named '" + folder + "'; export them separately");
      }
      file.output_dir = output_file_path(*output, folder);
    }
    files.push_back(std::move(file));
  }

  // No output may land on an input file, by whatever name it is reached.
  std::vector<FileIdentity> inputs;
  for (InputFile& file : files) {
    file.identity = file_identity(file.path);
    if (file.identity) inputs.push_back(*file.identity);
  }

  Progress progress(context.stderr_is_terminal && !args->flag("quiet"));
  bool failed = false;
  std::vector<Task> tasks;
  for (InputFile& file : files) {
    std::string error;
    file.db = open_database(file.path, error);
    if (!file.db) {
      progress.message(file_error_line(file.path, error));
      failed = true;
      continue;
    }
    if (const auto message = create_output_directory(file.output_dir)) {
      progress.message(file_error_line(file.path, *message));
      failed = true;
      continue;
    }
    progress.add_total(file.db->total_pages());

    std::vector<std::string> names;
    if (const std::string* list = args->value("tables")) {
      names = split_names(*list);
    } else {
      for (const auto& entry : file.db->catalog()) names.push_back(name_text(entry.first));
    }
    std::set<std::string> seen;
    std::map<std::string, std::size_t> task_by_file_name;
    for (const std::string& name : names) {
      if (!seen.insert(name).second) continue;  // the same table twice: one file, written once
      TableJob job;
      job.name = name;
      std::string file_name;
      if (const auto jsonl = export_file_name(name)) {
        file_name = jsonl->substr(0, jsonl->size() - std::string_view(".jsonl").size()) + extension;
        job.output_path = output_file_path(file.output_dir, file_name);
      } else {
        job.refused = unsafe_table_name_message(name);
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

  // --columns: a name that no table to be written has is an error before anything is
  // written; tables with none of the names are passed over.
  if (options.columns) {
    std::vector<const TableInfo*> tables;
    for (const Task& task : tasks) {
      for (const TableJob& job : task.tables) {
        if (const TableInfo* table = task.file->db->catalog().find(job.name)) tables.push_back(table);
      }
    }
    if (const auto missing = missing_column(options, tables)) {
      progress.stop();
      std::fprintf(stderr, "quarrow: Column not found: %s\n", missing->c_str());
      return kExitFailed;
    }
  }
  const ColumnSelection* columns = options.columns ? &*options.columns : nullptr;

  // A task whose one table is large is not written by the pool: it waits (with its
  // leaf pages listed) and is then written by every thread together.
  std::vector<std::optional<LeafPages>> deferred(tasks.size());
  OrderedReport report(tasks.size(), progress);
  const auto run_task = [&](std::size_t i, bool may_defer) {
    const Task& task = tasks[i];
    const InputFile& file = *task.file;
    std::vector<std::string> messages;
    for (const TableJob& job : task.tables) {
      if (job.refused) {
        messages.push_back(table_error_line(file.path, job.name, *job.refused));
        continue;
      }
      const TableInfo* found = file.db->catalog().find(job.name);
      if (columns && found != nullptr && !table_has_any(*found, *columns)) continue;
      auto reader = open_table_reader(*file.db, job.name, columns);
      if (!reader) {
        messages.push_back(table_error_line(file.path, job.name, lookup_error_text(reader.error())));
        continue;
      }
      if (may_defer && task.tables.size() == 1) {
        deferred[i] = pages_to_split(*file.db, reader->table(), jobs, options);
        if (deferred[i]) return;
      }
      progress.set_current(progress_label(file.path, job.name));
      // No output lands on an input: checked by name (an input is often read-only, so
      // opening it would fail with a less telling error) and again on the opened file.
      const auto refusal = [&](const FileIdentity& target) -> std::optional<std::string> {
        if (std::find(inputs.begin(), inputs.end(), target) == inputs.end()) return std::nullopt;
        const char* what = target == file.identity ? "the database file itself" : "another input database file";
        return in_context(ErrorContext::CreatingOutputFile, std::string("the output path is ") + what + ": " + job.output_path);
      };
      if (const auto target = file_identity(job.output_path)) {
        if (auto refused = refusal(*target)) {
          messages.push_back(table_error_line(file.path, job.name, *refused));
          continue;
        }
      }
      std::string error;
      auto out = Output::create(job.output_path, error, refusal);
      if (!out) {
        messages.push_back(table_error_line(file.path, job.name, error));
        continue;
      }
      const auto failure = deferred[i] ? stream_table_split(*file.db, *reader, *deferred[i], options, *out, progress, jobs)
                                       : stream_table(*file.db, *reader, options, *out, progress);
      if (failure) messages.push_back(table_error_line(file.path, job.name, *failure));
    }
    report.finish(i, std::move(messages));
  };
  run_parallel(jobs, tasks.size(), [&](std::size_t i) { run_task(i, jobs > 1); });
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (deferred[i]) run_task(i, false);
  }
  progress.stop();
  return failed || report.failed() ? kExitFailed : kExitOk;
}

}  // namespace quarrow::cli
