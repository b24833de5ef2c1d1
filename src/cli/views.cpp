// quarrow views FILE, dump --view, export --views: the views that the profiles of
// known databases define (src/profiles), in the tool's output formats.
#include "cli/views.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "cli/commands.h"
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

// The built-in profiles and the one --profile names; false after printing the error.
bool cli_profiles(const Arguments& args, std::vector<profiles::Profile>& out) {
  std::vector<profiles::Profile> extra;
  if (const std::string* file = args.value("profile")) {
    auto loaded = profiles::load_profile_file(*file);
    if (!loaded) {
      std::fprintf(stderr, "quarrow: %s\n", loaded.error().to_string().c_str());
      return false;
    }
    extra.push_back(std::move(loaded).value());
  }
  out = profiles::merge_profiles(extra);
  return true;
}

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

// Writes one view into `out`; the failure message, or nullopt. Conversion failures are
// no failure of the view: their count goes to `converted_nulls`.
std::optional<std::string> stream_view(profiles::ViewReader& reader, const StreamOptions& options, Output& out,
                                       std::uint64_t& converted_nulls) {
  const auto& columns = reader.columns();
  if (options.format == Format::Csv) profiles::append_view_csv_header(out.buffer(), columns);
  std::vector<profiles::Cell> row;
  std::uint64_t rows = 0;
  std::optional<std::string> failure;
  while (!options.limit || rows < *options.limit) {
    const auto step = reader.next(row);
    if (step == profiles::ViewReader::Step::End) break;
    if (step == profiles::ViewReader::Step::Error) {
      failure = "Error reading record: " + reader.error().to_string();
      break;
    }
    if (options.format == Format::Csv) profiles::append_view_csv_row(out.buffer(), columns, row);
    else profiles::append_view_json(out.buffer(), columns, row);
    ++rows;
    if (!out.commit()) return out.error();
  }
  converted_nulls = reader.total_failures();
  if (!out.finish()) return out.error();
  return failure;
}

std::string converted_note(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " value" : " values") + " could not be converted and are null";
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
  std::vector<profiles::Profile> all;
  if (!cli_profiles(*args, all)) return kExitFailed;
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

int run_dump_view(const Arguments& args, const StreamOptions& options, const Context& context) {
  if (args.positionals.size() != 1) return usage_error("dump", "--view takes a database file alone");
  if (options.decoded) return usage_error("dump", "--view and --decoded do not go together (views are typed)");
  std::vector<profiles::Profile> all;
  if (!cli_profiles(args, all)) return kExitFailed;
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
  auto reader = profiles::ViewReader::open(*db, *profile, *view);
  if (!reader) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, reader.error().to_string()).c_str());
    return kExitFailed;
  }
  (void)context;
  set_binary_stdout();
  Output out = Output::standard_output();
  std::uint64_t nulls = 0;
  const auto failure = stream_view(**reader, options, out, nulls);
  if (failure) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, *failure).c_str());
    return kExitFailed;
  }
  if (nulls != 0 && !args.flag("quiet")) {
    std::fprintf(stderr, "%s\n", table_error_line(path, name, converted_note(nulls)).c_str());
  }
  return kExitOk;
}

int run_export_views(const Arguments& args, const StreamOptions& options, unsigned jobs, const Context& context) {
  if (args.value("tables") != nullptr) return usage_error("export", "--views and --tables do not go together");
  if (options.decoded) return usage_error("export", "--views and --decoded do not go together (views are typed)");
  std::vector<profiles::Profile> all;
  if (!cli_profiles(args, all)) return kExitFailed;
  const std::string& output = *args.value("output");
  const char* extension = options.format == Format::Csv ? ".csv" : ".jsonl";
  const bool several = args.positionals.size() > 1;
  struct Input {
    std::string path;
    std::unique_ptr<Database> db;
    const profiles::Profile* profile = nullptr;
    std::string dir;
  };
  struct Job {
    const Input* input;
    const profiles::ViewSpec* view;
    std::string path;
  };
  std::vector<Input> inputs;
  std::vector<FileIdentity> identities;
  std::set<std::string> folders;
  Progress progress(context.stderr_is_terminal && !args.flag("quiet"));
  bool failed = false;
  for (const std::string& path : args.positionals) {
    Input in;
    in.path = path;
    in.dir = output;
    if (several) {
      const std::u8string folder8 =
          std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
      const std::string folder(folder8.begin(), folder8.end());
      if (folder.empty() || folder == "." || folder == ".." || !folders.insert(folder).second) {
        return usage_error("export", "'" + path + "': its file name cannot name its own output folder");
      }
      in.dir = output_file_path(output, folder);
    }
    if (const auto id = file_identity(path)) identities.push_back(*id);
    inputs.push_back(std::move(in));
  }
  if (const auto logs = logs_option(args)) add_log_identities(*logs, identities);
  std::vector<Job> jobs_list;
  for (Input& in : inputs) {
    std::string error;
    in.db = open_database(in.path, error, logs_option(args));
    if (!in.db) {
      progress.message(file_error_line(in.path, error));
      failed = true;
      continue;
    }
    in.profile = profiles::recognize(*in.db, all);
    if (in.profile == nullptr) {
      progress.message(file_error_line(in.path, "no profile knows this database; nothing exported"));
      failed = true;
      continue;
    }
    if (const auto message = create_output_directory(in.dir)) {
      progress.message(file_error_line(in.path, *message));
      failed = true;
      continue;
    }
    progress.add_total(in.db->total_pages());
    for (const profiles::ViewSpec* v : profiles::available_views(*in.db, *in.profile)) {
      // View names are the profile's own: plain names, safe as file names.
      jobs_list.push_back(Job{&in, v, output_file_path(in.dir, v->name + extension)});
    }
  }
  std::vector<std::vector<std::string>> messages(jobs_list.size());
  run_parallel(jobs, jobs_list.size(), [&](std::size_t i) {
    const Job& job = jobs_list[i];
    progress.set_current(progress_label(job.input->path, job.view->name));
    auto reader = profiles::ViewReader::open(*job.input->db, *job.input->profile, *job.view);
    if (!reader) {
      messages[i].push_back(table_error_line(job.input->path, job.view->name, reader.error().to_string()));
      return;
    }
    const auto refusal = [&](const FileIdentity& target) -> std::optional<std::string> {
      if (std::find(identities.begin(), identities.end(), target) == identities.end()) return std::nullopt;
      return "Failed to create output file: the output path is an input database file: " + job.path;
    };
    std::string error;
    auto out = Output::create(job.path, error, refusal);
    if (!out) {
      messages[i].push_back(table_error_line(job.input->path, job.view->name, error));
      return;
    }
    std::uint64_t nulls = 0;
    if (const auto failure = stream_view(**reader, options, *out, nulls)) {
      messages[i].push_back(table_error_line(job.input->path, job.view->name, *failure));
    }
  });
  for (const auto& list : messages) {
    for (const std::string& m : list) progress.message(m);
    failed = failed || !list.empty();
  }
  progress.stop();
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quarrow::cli
