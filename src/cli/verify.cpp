// quarrow verify FILE...: page checksums and both header copies.
//
// Each file is verified (the facts: the report, or the error that kept it from being
// read), then rendered as a summary with a line per damaged page, or as one JSON
// object whose problems carry the module's fields in the module's order.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "app/forensic_fields.h"
#include "cli/commands.h"
#include "cli/json_object.h"
#include "export/json_lines.h"
#include "forensic/verify.h"

namespace quarrow::cli {

const std::string_view kVerifyHelp =
    "usage: quarrow verify [--json] FILE...\n"
    "\n"
    "Checks both header copies and the checksum of every page (both checksum forms; pages\n"
    "of 16 and 32 KiB as four blocks). All-zero pages are uninitialised, not damaged.\n"
    "Prints a summary line per file, then a line per damaged page: the problem\n"
    "('checksum mismatch' or 'page number mismatch'), the stored and computed values and,\n"
    "for one flipped bit the code can locate, the bit's offset in the page; a last page\n"
    "the file holds only in part is 'truncated', with the bytes present. Page -1 is\n"
    "the header, page 0 its shadow copy. The catalog is not needed: a file whose tables\n"
    "no longer open can still be checked; a file that is no database fails.\n"
    "\n"
    "      --json    one JSON object per file\n"
    "\n"
    "Exit status 1 when any problem is found or a file cannot be read.\n";

namespace {

const std::vector<OptionSpec> kVerifyOptions = {{"json", 0, false}, {"quiet", 'q', false}};

struct VerifyRequest {
  std::vector<std::string> paths;
  bool json = false;
};

// One file's verification: the report, or the line that says why there is none.
struct VerifyFacts {
  std::string path;
  std::optional<VerifyReport> report;
  std::string error;
};

std::optional<VerifyRequest> parse_verify(const std::vector<std::string_view>& raw) {
  const auto args = parse_or_complain("verify", raw, kVerifyOptions);
  const bool named = args && !args->positionals.empty();
  if (args && !named) usage_error("verify", "no database file given");
  if (!named) return std::nullopt;
  return VerifyRequest{args->positionals, args->flag("json")};
}

VerifyFacts gather_verify(const std::string& path) {
  VerifyFacts facts{path, std::nullopt, {}};
  Result<VerifyReport> report = verify_path(path);
  if (report) {
    facts.report = std::move(report).value();
  } else {
    facts.error = report.error().kind() == ErrorKind::Io ? report.error().os_error_text() : report.error().to_string();
  }
  return facts;
}

std::string hex64(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return buf;
}

void append_problem_json(std::string& out, const PageProblem& p) {
  using app::ProblemField;
  out += '{';
  for (const ProblemField field : app::kProblemFields) {
    if ((field == ProblemField::Bit && !p.bit) || (field == ProblemField::BytesPresent && !p.bytes_present)) continue;
    append_field(out, app::problem_field_name(field));
    switch (field) {
      case ProblemField::Page: out += std::to_string(p.page); break;
      case ProblemField::Problem: append_json_string(out, p.problem); break;
      case ProblemField::Stored: out += std::to_string(p.stored); break;
      case ProblemField::Computed: out += std::to_string(p.computed); break;
      case ProblemField::Bit: out += std::to_string(*p.bit); break;
      case ProblemField::BytesPresent: out += std::to_string(*p.bytes_present); break;
    }
  }
  out += "}";
}

std::string render_verify_json(const std::string& path, const VerifyReport& r) {
  std::string out = "{\"file\":";
  append_json_string(out, path);
  out += ",\"pages_checked\":" + std::to_string(r.pages_checked) + ",\"uninitialised\":" +
         std::to_string(r.uninitialised) + ",\"problems\":[";
  for (std::size_t i = 0; i < r.problems.size(); ++i) {
    if (i > 0) out += ",";
    append_problem_json(out, r.problems[i]);
  }
  out += "]";
  // Present only when they apply, so the objects of sound files keep their shape.
  if (r.truncation) {
    out += ",\"truncated\":{\"owned_pages\":" + std::to_string(r.truncation->last_owned_page) +
           ",\"file_pages\":" + std::to_string(r.truncation->pages_held) + "}";
  }
  if (r.no_checksums) out += ",\"no_checksums\":true";
  out += "}\n";
  return out;
}

std::string render_verify_text(const std::string& path, const VerifyReport& r) {
  const std::string verdict = !r.problems.empty() ? std::to_string(r.problems.size()) + " damaged"
                              : r.truncation     ? std::string("truncated")
                              : r.no_checksums   ? std::string("no checksums")
                                                 : std::string("ok");
  std::string out = path + ": " + verdict + ", " + std::to_string(r.pages_checked) +
                    " pages checked (header copies included), " + std::to_string(r.uninitialised) + " uninitialised\n";
  if (r.truncation) out += "  " + truncation_text(*r.truncation) + "\n";
  if (r.no_checksums) out += "  the pages carry no checksums (every stored page has 0): nothing to check them by\n";
  for (const PageProblem& p : r.problems) {
    if (p.bytes_present) {
      out += "  page " + std::to_string(p.page) + ": " + p.problem + ", " + std::to_string(*p.bytes_present) +
             " bytes present\n";
      continue;
    }
    out += "  page " + std::to_string(p.page) + ": " + p.problem + ", stored " + hex64(p.stored) + ", computed " +
           hex64(p.computed);
    if (p.bit) out += ", bit " + std::to_string(*p.bit) + " flipped";
    out += "\n";
  }
  return out;
}

}  // namespace

int run_verify(const std::vector<std::string_view>& raw, const Context&) {
  const auto request = parse_verify(raw);
  if (!request) return kExitUsage;
  int status = kExitOk;
  for (const std::string& path : request->paths) {
    const VerifyFacts facts = gather_verify(path);
    if (!facts.report) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", file_error_line(path, facts.error).c_str());
      status = kExitFailed;
      continue;
    }
    if (!facts.report->problems.empty() || facts.report->truncation) status = kExitFailed;
    const std::string out =
        request->json ? render_verify_json(path, *facts.report) : render_verify_text(path, *facts.report);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return status;
}

}  // namespace quarrow::cli
