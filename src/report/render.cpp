// Rendering a report's facts as one HTML document. The page needs nothing outside
// itself: the styles and the map are inline (CSS, SVG), the one script (sorting a
// table by a column) is inline too, and nothing is fetched. Every text that came from
// a file (table, column and index names, carved strings, paths, log names, error
// texts that quote them) goes through escape_html, in element content and attributes.
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "record/text.h"
#include "report/report.h"
#include "timeline/event.h"
#include "version.h"

namespace quarrow::report {

const char* page_kind_name(PageKind kind) {
  switch (kind) {
    case PageKind::Catalog: return "catalog";
    case PageKind::TableData: return "table data";
    case PageKind::Index: return "index";
    case PageKind::LongValues: return "long values";
    case PageKind::SpaceTrees: return "space trees";
    case PageKind::Unused: return "unused";
    case PageKind::Damaged: return "damaged";
    case PageKind::kCount: break;
  }
  return "unknown";
}

PageKind MapCell::dominant() const {
  // Damaged pages are what an analyst looks for first: one makes the cell damaged.
  if (kinds[static_cast<std::size_t>(PageKind::Damaged)] != 0) return PageKind::Damaged;
  std::size_t best = static_cast<std::size_t>(PageKind::Unused);
  for (std::size_t k = 0; k < kPageKinds; ++k) {
    if (kinds[k] > kinds[best]) best = k;
  }
  return static_cast<PageKind>(best);
}

std::string escape_html(std::string_view raw) {
  // Text from a file may hold any bytes: made valid UTF-8 first (U+FFFD for the rest).
  const std::string text = lossy_utf8(as_bytes(raw));
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\0': out += "\xEF\xBF\xBD"; break;  // NUL is no character of an HTML document
      default:
        // Other control characters (but tab and line feed) are parse errors in HTML:
        // shown as U+FFFD, as the carved and stored texts' other undecodable bytes are.
        if (static_cast<unsigned char>(c) < ' ' && c != '\t' && c != '\n') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {

// The map's colours, in PageKind order: distinguishable in print and for the common
// colour-vision deficiencies (blue/orange carry most of the contrast).
constexpr const char* kKindColours[kPageKinds] = {"#6a3d9a", "#1f78b4", "#33a02c", "#ff7f00",
                                                  "#b8a200", "#e4e4e4", "#e31a1c"};

constexpr const char* kStyle = R"(
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;margin:0;color:#1d1d1f;background:#fafafa}
main{max-width:1100px;margin:0 auto;padding:16px 24px 48px}
h1{font-size:22px;margin:8px 0 2px;word-break:break-all}
h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #ccc;padding-bottom:3px}
.sub{color:#555;margin:0 0 8px}
nav a{margin-right:12px}
table{border-collapse:collapse;background:#fff}
td,th{border:1px solid #ddd;padding:3px 8px;text-align:left;vertical-align:top}
th{background:#f0f0f0}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
td.n{white-space:nowrap}
table.facts th{width:230px;font-weight:600}
table.sortable th{cursor:pointer;user-select:none}
table.sortable th:after{content:" \2195";color:#999;font-size:11px}
.ok{color:#1a7f37;font-weight:600}
.bad{color:#c62828;font-weight:600}
.warn{color:#9a6700;font-weight:600}
.more{color:#555;font-style:italic}
code,.mono{font-family:ui-monospace,"DejaVu Sans Mono",Consolas,monospace;font-size:12.5px;word-break:break-all}
details summary{cursor:pointer;color:#1f5fa8}
.legend span{display:inline-block;margin:0 14px 4px 0}
.legend i{display:inline-block;width:12px;height:12px;margin-right:5px;vertical-align:-1px;border:1px solid #999}
svg{background:#fff;border:1px solid #ccc;max-width:100%;height:auto}
svg rect.c:hover{stroke:#000;stroke-width:1.5}
svg .mk{pointer-events:none}
)";

// Sorting a table by a clicked column header: numbers by their data-v value, text as
// text; a second click reverses.
constexpr const char* kSortScript = R"(
document.querySelectorAll("table.sortable").forEach(function(t){
 t.querySelectorAll("th").forEach(function(h,i){h.addEventListener("click",function(){
  var b=t.tBodies[0],rows=Array.prototype.slice.call(b.rows),d=h.dataset.d==="1"?-1:1;h.dataset.d=d===1?"1":"0";
  rows.sort(function(x,y){var p=x.cells[i],q=y.cells[i];
   var u=p.dataset.v,v=q.dataset.v;
   if(u!==undefined&&v!==undefined)return d*(Number(u)-Number(v));
   return d*p.textContent.localeCompare(q.textContent);});
  rows.forEach(function(r){b.appendChild(r);});});});});
)";

std::string num(std::uint64_t v) { return std::to_string(v); }

// A number cell that sorts by its value.
std::string num_cell(std::uint64_t v) { return "<td class=\"n\" data-v=\"" + num(v) + "\">" + num(v) + "</td>"; }

std::string bytes_text(std::uint64_t bytes) {
  char buf[64];
  if (bytes >= (1ull << 30)) {
    std::snprintf(buf, sizeof buf, "%.2f GiB", static_cast<double>(bytes) / static_cast<double>(1ull << 30));
  } else if (bytes >= (1ull << 20)) {
    std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / static_cast<double>(1ull << 20));
  } else if (bytes >= (1ull << 10)) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", static_cast<double>(bytes) / static_cast<double>(1ull << 10));
  } else {
    std::snprintf(buf, sizeof buf, "%" PRIu64 " bytes", bytes);
  }
  return buf;
}

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08" PRIx32, v);
  return buf;
}

void fact(std::string& out, std::string_view name, const std::string& html_value) {
  out += "<tr><th>";
  out += name;
  out += "</th><td>" + html_value + "</td></tr>\n";
}

std::string more_line(std::size_t shown, std::uint64_t total, std::string_view what) {
  if (total <= shown) return "";
  return "<p class=\"more\">and " + num(total - shown) + " more " + std::string(what) + "</p>\n";
}

std::string ok_bad(bool ok, std::string_view yes, std::string_view no) {
  return ok ? "<span class=\"ok\">" + std::string(yes) + "</span>" : "<span class=\"bad\">" + std::string(no) + "</span>";
}

std::string time_text(const LogTime& t) { return t.set ? escape_html(log_time_text(t)) : "<span class=\"more\">not set</span>"; }

void render_header(std::string& out, const ReportFacts& f) {
  out += "<section id=\"header\"><h2>Header</h2>\n";
  if (!f.header) {
    out += "<p class=\"bad\">The header facts could not be read: " + escape_html(f.header_error) + "</p>\n";
  }
  out += "<table class=\"facts\">\n";
  fact(out, "File size", num(f.file_size) + " bytes (" + bytes_text(f.file_size) + ")");
  fact(out, "Page size", "<span data-v=\"" + num(f.page_size) + "\" id=\"page-size\">" + num(f.page_size) + "</span> bytes");
  fact(out, "Pages", "<span id=\"total-pages\">" + num(f.total_pages) + "</span>");
  fact(out, "Format", hex32(f.format_version) + ", revision " + num(f.format_revision));
  if (f.header) {
    const HeaderFacts& h = *f.header;
    const bool clean = h.state == kStateCleanShutdown;
    fact(out, "State", std::string(clean ? "<span class=\"ok\">" : "<span class=\"warn\">") + escape_html(h.state_name) +
                           "</span> (" + num(h.state) + ")");
    fact(out, "File type", escape_html(h.file_type_name));
    fact(out, "Created", time_text(h.creation_time));
    fact(out, "Last consistent", time_text(h.last_consistent_time));
    fact(out, "Last attached", time_text(h.last_attach_time));
    fact(out, "Last detached", time_text(h.last_detach_time));
    fact(out, "Database time", num(h.database_time));
    fact(out, "Log generations required",
         h.log_generation_high == 0 ? "none" : num(h.log_generation_low) + " to " + num(h.log_generation_high));
    fact(out, "Written on", "Windows " + num(h.os_major) + "." + num(h.os_minor) + " build " + num(h.os_build) +
                                (h.os_service_pack != 0 ? ", service pack " + num(h.os_service_pack) : ""));
    fact(out, "Repairs", h.repair_count == 0 ? "none" : num(h.repair_count) + ", last " + time_text(h.last_repair_time));
    fact(out, "Header copy", ok_bad(h.checksum_ok, "checksum verifies", "checksum FAILS") + " (stored " +
                                 hex32(h.stored_checksum) + ")");
    fact(out, "Shadow copy", ok_bad(h.shadow_checksum_ok, "checksum verifies", "checksum FAILS") + ", " +
                                 ok_bad(h.copies_agree, "same bytes as the header", "DIFFERS from the header"));
  }
  out += "</table>\n</section>\n";
}

void render_verify(std::string& out, const ReportFacts& f) {
  out += "<section id=\"verify\"><h2>Verification</h2>\n";
  if (!f.verify) {
    out += "<p class=\"bad\">The pages could not be verified: " + escape_html(f.verify_error) + "</p>\n</section>\n";
    return;
  }
  const VerifyReport& v = *f.verify;
  out += "<p id=\"verify-summary\" data-problems=\"" + num(f.verify_problem_count) + "\" data-checked=\"" +
         num(v.pages_checked) + "\">" +
         (f.verify_problem_count == 0 ? std::string("<span class=\"ok\">ok</span>")
                                      : "<span class=\"bad\">" + num(f.verify_problem_count) + " damaged</span>") +
         ": " + num(v.pages_checked) + " pages checked (header copies included), " + num(v.uninitialised) +
         " uninitialised.</p>\n";
  if (!v.problems.empty()) {
    out += "<table><thead><tr><th class=\"n\">Page</th><th>Problem</th><th>Stored</th><th>Computed</th><th>Detail</th></tr></thead><tbody>\n";
    for (const PageProblem& p : v.problems) {
      char stored[32], computed[32];
      std::snprintf(stored, sizeof stored, "0x%" PRIx64, p.stored);
      std::snprintf(computed, sizeof computed, "0x%" PRIx64, p.computed);
      std::string detail;
      if (p.bit) detail = "bit " + num(*p.bit) + " flipped";
      if (p.bytes_present) detail = num(*p.bytes_present) + " bytes present";
      out += "<tr><td class=\"n\">" + std::to_string(p.page) + "</td><td>" + p.problem + "</td><td class=\"mono\">" +
             stored + "</td><td class=\"mono\">" + computed + "</td><td>" + detail + "</td></tr>\n";
    }
    out += "</tbody></table>\n";
    out += more_line(v.problems.size(), f.verify_problem_count, "damaged pages");
  }
  out += "</section>\n";
}

void render_catalog_problems(std::string& out, const ReportFacts& f) {
  out += "<section id=\"catalog-problems\"><h2>Catalog problems</h2>\n";
  if (f.catalog_problem_count == 0) {
    out += "<p>None: every catalog row was read.</p>\n</section>\n";
    return;
  }
  out += "<p>" + num(f.catalog_problem_count) + " catalog rows were passed over at open.</p>\n";
  out += "<table><thead><tr><th class=\"n\">Page</th><th class=\"n\">Tag</th><th class=\"n\">Object</th><th class=\"n\">Type</th><th>Error</th></tr></thead><tbody>\n";
  for (const CatalogProblem& p : f.catalog_problems) {
    out += "<tr><td class=\"n\">" + num(p.page) + "</td><td class=\"n\">" + num(p.tag) + "</td><td class=\"n\">" +
           (p.object_id ? num(*p.object_id) : "") + "</td><td class=\"n\">" + (p.type ? num(*p.type) : "") + "</td><td>" +
           escape_html(p.error) + "</td></tr>\n";
  }
  out += "</tbody></table>\n" + more_line(f.catalog_problems.size(), f.catalog_problem_count, "catalog problems");
  out += "</section>\n";
}

void render_tables(std::string& out, const ReportFacts& f) {
  out += "<section id=\"tables\"><h2>Tables</h2>\n<p>" + num(f.table_count) +
         " tables. Sizes are the pages of each table's trees (data, indexes, long values) as the page map "
         "counts them. Click a column header to sort.</p>\n";
  out += "<table class=\"sortable\" id=\"table-list\"><thead><tr><th>Name</th><th class=\"n\">Rows</th>"
         "<th class=\"n\">Columns</th><th class=\"n\">Indexes</th><th class=\"n\">Data pages</th>"
         "<th class=\"n\">Index pages</th><th class=\"n\">Long-value pages</th><th class=\"n\">Size</th>"
         "<th class=\"n\">Recovered</th><th class=\"n\">Carved</th></tr></thead><tbody>\n";
  for (const TableFacts& t : f.tables) {
    const std::uint64_t pages = t.data_pages + t.index_pages + t.long_value_pages;
    out += "<tr><td><details><summary>" + escape_html(t.name) + "</summary><table><tbody>";
    for (const ColumnFacts& c : t.columns) {
      out += "<tr><td>" + escape_html(c.name) + "</td><td>" + escape_html(c.type) + "</td></tr>";
    }
    out += "</tbody></table>" + more_line(t.columns.size(), t.column_count, "columns") + "</details></td>";
    if (t.rows) {
      out += num_cell(*t.rows);
    } else {
      out += "<td class=\"n bad\" data-v=\"-1\" title=\"" + escape_html(t.rows_error) + "\">unreadable</td>";
    }
    out += num_cell(t.column_count) + num_cell(t.index_count) + num_cell(t.data_pages) + num_cell(t.index_pages) +
           num_cell(t.long_value_pages);
    out += "<td class=\"n\" data-v=\"" + num(pages * f.page_size) + "\">" + bytes_text(pages * f.page_size) + "</td>";
    out += num_cell(t.recovered) + num_cell(t.carved) + "</tr>\n";
  }
  out += "</tbody></table>\n" + more_line(f.tables.size(), f.table_count, "tables");
  if (!f.profile.empty()) {
    out += "<h3 id=\"views\">Views (profile " + escape_html(f.profile) + ")</h3>\n";
    out += "<table class=\"sortable\" id=\"view-list\"><thead><tr><th>View</th><th>Table</th>"
           "<th class=\"n\">Columns</th><th class=\"n\">Table rows</th><th>About</th></tr></thead><tbody>\n";
    for (const ViewFacts& v : f.views) {
      out += "<tr><td>" + escape_html(v.name) + "</td><td>" + escape_html(v.table) + "</td>" +
             (v.columns ? num_cell(*v.columns) : std::string("<td class=\"n\" data-v=\"-1\"></td>")) +
             (v.table_rows ? num_cell(*v.table_rows) : std::string("<td class=\"n\" data-v=\"-1\"></td>")) + "<td>" +
             escape_html(v.description) + "</td></tr>\n";
    }
    out += "</tbody></table>\n";
  }
  out += "</section>\n";
}

// The tooltip of a map cell: its pages, the kinds present, its owners and the marks.
std::string cell_title(const ReportFacts& f, const MapCell& cell) {
  std::string t = cell.first_page == cell.last_page ? "page " + num(cell.first_page)
                                                    : "pages " + num(cell.first_page) + "\xE2\x80\x93" + num(cell.last_page);
  std::string kinds;
  for (std::size_t k = 0; k < kPageKinds; ++k) {
    if (cell.kinds[k] == 0) continue;
    if (!kinds.empty()) kinds += ", ";
    kinds += page_kind_name(static_cast<PageKind>(k));
    if (cell.first_page != cell.last_page) kinds += " " + num(cell.kinds[k]);
  }
  t += "\n" + kinds;
  for (const OwnerPages& o : cell.owners) {
    if (o.pages == 0) continue;
    t += "\n" + f.owners[o.owner];
    if (cell.first_page != cell.last_page) t += " (" + num(o.pages) + ")";
  }
  if (cell.other_owner_pages != 0) t += "\nother owners (" + num(cell.other_owner_pages) + ")";
  if (cell.recovered != 0) t += "\nrecovered records: " + num(cell.recovered);
  if (cell.carved != 0) t += "\ncarving hits: " + num(cell.carved);
  return escape_html(t);
}

constexpr int kCellPitch = 12;
constexpr std::int64_t kMicrosecondsPerDay = 86400LL * 1000000LL;
constexpr int kCellSize = 11;

void render_map(std::string& out, const ReportFacts& f) {
  const PageMap& map = f.map;
  out += "<section id=\"page-map\"><h2>Page map</h2>\n<p>Every page of the file, in file order, left to right";
  out += map.pages_per_cell == 1 ? ", one cell per page"
                                 : ", " + num(map.pages_per_cell) + " consecutive pages per cell (the colour of the kind "
                                   "most of them have; a damaged page makes its cell damaged)";
  out += ". Hover a cell for its pages, kinds and owners. A white dot marks recovered records, a black corner "
         "carving hits (strings of " + num(kCarveMinChars) + " characters or more in page slack).</p>\n";
  out += "<p class=\"legend\" id=\"map-legend\">";
  for (std::size_t k = 0; k < kPageKinds; ++k) {
    out += "<span data-kind=\"" + std::string(page_kind_name(static_cast<PageKind>(k))) + "\" data-pages=\"" +
           num(map.totals[k]) + "\"><i style=\"background:" + kKindColours[k] + "\"></i>" +
           page_kind_name(static_cast<PageKind>(k)) + " " + num(map.totals[k]) + "</span>";
  }
  out += "</p>\n";
  const std::size_t cells = map.cells.size();
  const std::size_t rows = (cells + kMapColumns - 1) / kMapColumns;
  const int width = static_cast<int>(kMapColumns) * kCellPitch + 1;
  const int height = static_cast<int>(std::max<std::size_t>(rows, 1)) * kCellPitch + 1;
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"map\" role=\"img\" aria-label=\"page map\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
         " " + std::to_string(height) + "\" data-pages-per-cell=\"" + num(map.pages_per_cell) + "\" data-cells=\"" +
         num(cells) + "\">\n<style>";
  for (std::size_t k = 0; k < kPageKinds; ++k) out += ".k" + num(k) + "{fill:" + kKindColours[k] + "}";
  out += ".mr{fill:#fff;stroke:#000;stroke-width:1}.mc{fill:#000}</style>\n";
  for (std::size_t c = 0; c < cells; ++c) {
    const MapCell& cell = map.cells[c];
    const int x = static_cast<int>(c % kMapColumns) * kCellPitch + 1;
    const int y = static_cast<int>(c / kMapColumns) * kCellPitch + 1;
    const std::string xs = std::to_string(x), ys = std::to_string(y);
    out += "<rect class=\"c k" + num(static_cast<std::size_t>(cell.dominant())) + "\" x=\"" + xs + "\" y=\"" + ys +
           "\" width=\"" + std::to_string(kCellSize) + "\" height=\"" + std::to_string(kCellSize) + "\"><title>" +
           cell_title(f, cell) + "</title></rect>";
    if (cell.recovered != 0) {
      out += "<circle class=\"mk mr\" cx=\"" + std::to_string(x + 4) + "\" cy=\"" + std::to_string(y + 7) + "\" r=\"2.5\"/>";
    }
    if (cell.carved != 0) {
      out += "<path class=\"mk mc\" d=\"M" + std::to_string(x + kCellSize) + " " + ys + "h-5l5 5z\"/>";
    }
    out += "\n";
  }
  out += "</svg>\n</section>\n";
}

void render_recovered(std::string& out, const ReportFacts& f) {
  out += "<section id=\"recovered\"><h2>Recovered records</h2>\n<p><span id=\"recovered-count\">" +
         num(f.recovered_count) +
         "</span> records no longer live were found on the tables' pages (flagged deleted, or in free space).</p>\n";
  if (!f.recovered.empty()) {
    out += "<details><summary>the first " + num(f.recovered.size()) + "</summary>\n";
    out += "<table class=\"sortable\"><thead><tr><th>Table</th><th class=\"n\">Page</th><th class=\"n\">Offset</th>"
           "<th>Source</th><th>Live row with its key</th></tr></thead><tbody>\n";
    for (const RecoveredFacts& r : f.recovered) {
      out += "<tr><td>" + escape_html(r.table) + "</td>" + num_cell(r.page) + num_cell(r.offset) + "<td>" +
             escape_html(r.source) + "</td><td>" + escape_html(r.live.empty() ? "none" : r.live) + "</td></tr>\n";
    }
    out += "</tbody></table>\n" + more_line(f.recovered.size(), f.recovered_count, "recovered records") +
           "</details>\n";
  }
  out += "</section>\n";
}

void render_carved(std::string& out, const ReportFacts& f) {
  out += "<section id=\"carved\"><h2>Carved text</h2>\n<p><span id=\"carved-count\">" + num(f.carved_count) +
         "</span> UTF-16LE strings of " + num(kCarveMinChars) + " characters or more in page slack" +
         (f.carve_capped ? " (carving stopped there)" : "") + ".</p>\n";
  if (!f.carved.empty()) {
    out += "<details><summary>the first " + num(f.carved.size()) + "</summary>\n";
    out += "<table class=\"sortable\"><thead><tr><th class=\"n\">Page</th><th class=\"n\">Offset</th><th>Table</th>"
           "<th>Text</th></tr></thead><tbody>\n";
    for (const CarveFacts& h : f.carved) {
      out += "<tr>" + num_cell(h.page) + num_cell(h.offset) + "<td>" + escape_html(h.table) +
             "</td><td class=\"mono\">" + escape_html(h.text) + "</td></tr>\n";
    }
    out += "</tbody></table>\n" + more_line(f.carved.size(), f.carved_count, "carving hits") + "</details>\n";
  }
  out += "</section>\n";
}

std::string day_text(std::int64_t day) {
  std::string out;
  timeline::append_event_time(out, day * kMicrosecondsPerDay);
  return out.substr(0, out.find('T'));
}

// Events per day as bars over the span from the first to the last day with events
// (at most kMaxHistogramBars bars: a longer span puts several days in each), the
// database's events and the logs' stacked.
void render_events(std::string& out, const EventFacts& e) {
  out += "<section id=\"events\"><h2>Events per day</h2>\n<p><span id=\"event-count\">" +
         num(e.database_events + e.log_events + e.row_change_events) + "</span> dated events (the timeline's): " +
         num(e.database_events) + " of the database";
  if (e.log_events != 0 || !e.logs_error.empty()) out += ", " + num(e.log_events) + " of the logs' transactions";
  if (e.row_change_events != 0 || !e.row_changes_note.empty()) {
    out += ", <span id=\"row-change-count\">" + num(e.row_change_events) + "</span> of the logs' row changes";
  }
  out += ".</p>\n";
  if (!e.row_changes_note.empty()) {
    out += "<p class=\"more\">The logs' row changes: " + escape_html(e.row_changes_note) + "</p>\n";
  }
  if (!e.database_error.empty()) {
    out += "<p class=\"warn\">The database's events stop early: " + escape_html(e.database_error) + "</p>\n";
  }
  if (!e.logs_error.empty()) out += "<p class=\"warn\">The logs' events stop early: " + escape_html(e.logs_error) + "</p>\n";
  if (e.left_out != 0) {
    out += "<p class=\"more\" id=\"events-not-drawn\">The histogram keeps the first " + num(kMaxEventDays) +
           " days it meets: " + num(e.left_out) + " of these events fall on other days and are counted above, not drawn.</p>\n";
  }
  if (e.days.empty()) {
    out += "</section>\n";
    return;
  }
  const std::int64_t first = e.days.begin()->first;
  const std::int64_t last = e.days.rbegin()->first;
  const std::uint64_t span = static_cast<std::uint64_t>(last - first) + 1;
  const std::uint64_t per_bar = (span + kMaxHistogramBars - 1) / kMaxHistogramBars;
  const std::size_t bars = static_cast<std::size_t>((span + per_bar - 1) / per_bar);
  std::vector<std::array<std::uint64_t, 2>> counts(bars);
  for (const auto& [day, c] : e.days) {
    auto& bar = counts[static_cast<std::size_t>(static_cast<std::uint64_t>(day - first) / per_bar)];
    bar[0] += c[0];
    bar[1] += c[1];
  }
  std::uint64_t highest = 1;
  for (const auto& c : counts) highest = std::max(highest, c[0] + c[1]);
  constexpr int kPlotHeight = 160;
  constexpr int kLeft = 60;
  const int bar_width = std::max(2, std::min(24, 900 / static_cast<int>(bars)));
  const int width = kLeft + static_cast<int>(bars) * bar_width + 10;
  const int height = kPlotHeight + 40;
  out += "<p class=\"legend\"><span><i style=\"background:#1f78b4\"></i>database</span>"
         "<span><i style=\"background:#ff7f00\"></i>logs</span>" +
         (per_bar > 1 ? "<span>" + num(per_bar) + " days per bar</span>" : std::string()) + "</p>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"event-histogram\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " +
         std::to_string(height) + "\" data-days-per-bar=\"" + num(per_bar) + "\" font-size=\"11\" " +
         "font-family=\"sans-serif\">\n";
  out += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(kPlotHeight + 5) + "\" x2=\"" +
         std::to_string(width - 5) + "\" y2=\"" + std::to_string(kPlotHeight + 5) + "\" stroke=\"#888\"/>";
  out += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"14\" text-anchor=\"end\">" + num(highest) + "</text>";
  out += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + std::to_string(kPlotHeight + 5) +
         "\" text-anchor=\"end\">0</text>\n";
  for (std::size_t b = 0; b < bars; ++b) {
    const std::uint64_t total = counts[b][0] + counts[b][1];
    if (total == 0) continue;
    const std::int64_t from = first + static_cast<std::int64_t>(b * per_bar);
    const std::int64_t to = std::min<std::int64_t>(from + static_cast<std::int64_t>(per_bar) - 1, last);
    std::string title = (from == to ? day_text(from) : day_text(from) + " to " + day_text(to)) + ": " + num(total) +
                        " events";
    if (counts[b][1] != 0) title += " (" + num(counts[b][0]) + " database, " + num(counts[b][1]) + " logs)";
    const int x = kLeft + static_cast<int>(b) * bar_width;
    int y = kPlotHeight + 5;
    out += "<g><title>" + escape_html(title) + "</title>";
    for (int series = 0; series < 2; ++series) {
      if (counts[b][series] == 0) continue;
      const int h = std::max(1, static_cast<int>(static_cast<double>(counts[b][series]) * kPlotHeight /
                                                 static_cast<double>(highest)));
      y -= h;
      out += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(std::max(1, bar_width - 1)) + "\" height=\"" + std::to_string(h) + "\" fill=\"" +
             (series == 0 ? "#1f78b4" : "#ff7f00") + "\" data-count=\"" + num(counts[b][series]) + "\"/>";
    }
    out += "</g>\n";
  }
  out += "<text x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kPlotHeight + 22) + "\">" + day_text(first) +
         "</text><text x=\"" + std::to_string(width - 10) + "\" y=\"" + std::to_string(kPlotHeight + 22) +
         "\" text-anchor=\"end\">" + day_text(last) + "</text>\n</svg>\n</section>\n";
}

std::string generations_text(const std::vector<std::uint32_t>& gens) {
  // Runs of consecutive generations as "a-b"; long lists cut.
  std::string out;
  std::size_t runs = 0;
  for (std::size_t i = 0; i < gens.size();) {
    std::size_t j = i;
    while (j + 1 < gens.size() && gens[j + 1] == gens[j] + 1) ++j;
    if (runs == 20) {
      out += ", \xE2\x80\xA6";
      break;
    }
    if (!out.empty()) out += ", ";
    out += num(gens[i]);
    if (j > i) out += "\xE2\x80\x93" + num(gens[j]);
    ++runs;
    i = j + 1;
  }
  return out.empty() ? "none" : out;
}

void render_strip(std::string& out, const std::vector<GenerationCell>& strip) {
  if (strip.empty()) return;
  constexpr int pitch = 8;
  const int width = static_cast<int>(strip.size()) * pitch + 1;
  out += "<p class=\"legend\"><span><i style=\"background:#33a02c\"></i>present</span><span><i style=\"background:#e31a1c\">"
         "</i>needed, missing</span><span><i style=\"background:#e4e4e4\"></i>absent, not needed</span>"
         "<span>(outlined: needed by the database)</span></p>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"log-strip\" width=\"" + std::to_string(width) +
         "\" height=\"26\" viewBox=\"0 0 " + std::to_string(width) + " 26\">\n";
  for (std::size_t c = 0; c < strip.size(); ++c) {
    const GenerationCell& g = strip[c];
    const char* fill = g.missing != 0 ? "#e31a1c" : g.present != 0 ? "#33a02c" : "#e4e4e4";
    std::string title = g.first == g.last ? "generation " + num(g.first)
                                          : "generations " + num(g.first) + "\xE2\x80\x93" + num(g.last);
    title += ": " + num(g.present) + " present";
    if (g.needed != 0) title += ", " + num(g.needed) + " needed, " + num(g.missing) + " missing";
    out += "<rect x=\"" + std::to_string(static_cast<int>(c) * pitch + 1) + "\" y=\"1\" width=\"" +
           std::to_string(pitch - 1) + "\" height=\"24\" fill=\"" + fill + "\"" +
           (g.needed != 0 ? " stroke=\"#000\" stroke-width=\"1\"" : "") + "><title>" + escape_html(title) +
           "</title></rect>\n";
  }
  out += "</svg>\n";
}

void render_logs(std::string& out, const LogChainFacts& l) {
  out += "<section id=\"logs\"><h2>Transaction logs</h2>\n<p>Folder <code>" + escape_html(l.path) + "</code>.</p>\n";
  if (!l.error.empty()) {
    out += "<p class=\"bad\">The logs could not be read: " + escape_html(l.error) + "</p>\n</section>\n";
    return;
  }
  out += "<table class=\"facts\">\n";
  fact(out, "Generations present",
       l.lowest ? "<span id=\"log-range\">" + num(*l.lowest) + "\xE2\x80\x93" + num(l.highest.value_or(*l.lowest)) + "</span>"
                : std::string("none"));
  std::string gaps;
  for (const logs::GenerationGap& g : l.gaps) {
    if (!gaps.empty()) gaps += ", ";
    gaps += g.first == g.last ? num(g.first) : num(g.first) + "\xE2\x80\x93" + num(g.last);
  }
  fact(out, "Gaps", gaps.empty() ? ok_bad(true, "none", "") : "<span class=\"bad\">" + gaps + "</span>");
  fact(out, "Chain links", l.broken_links == 0 ? ok_bad(true, "every link matches", "")
                                               : "<span class=\"bad\">" + num(l.broken_links) + " do not match</span>");
  fact(out, "Checksums", ok_bad(!l.checksum_failed, "verify", "some FAIL"));
  fact(out, "Records", num(l.records));
  if (l.needs) {
    const logs::DatabaseNeeds& n = *l.needs;
    fact(out, "Database state", n.facts.dirty ? "<span class=\"warn\">dirty</span>" : std::string("clean"));
    fact(out, "Generations needed", generations_text(n.needed));
    fact(out, "Needed and missing",
         n.missing.empty() ? ok_bad(true, "none", "") : "<span class=\"bad\">" + generations_text(n.missing) + "</span>");
    fact(out, "Replay verdict", "<span id=\"replay-verdict\" class=\"" +
                                    std::string(!n.missing.empty() ? "bad" : n.needs_replay() ? "warn" : "ok") + "\">" +
                                    escape_html(l.verdict) + "</span> (" + num(n.replay_records) +
                                    " page changes after the attach position, " + num(n.already_applied) +
                                    " already in the file)");
  }
  out += "</table>\n";
  render_strip(out, l.strip);
  out += "<table class=\"sortable\"><thead><tr><th>File</th><th>Role</th><th class=\"n\">Generation</th>"
         "<th class=\"n\">Size</th><th class=\"n\">Problems</th><th>Note</th></tr></thead><tbody>\n";
  for (const LogFileFacts& file : l.files) {
    out += "<tr><td>" + escape_html(file.name) + "</td><td>" + escape_html(file.role) + "</td>" +
           (file.generation ? num_cell(*file.generation) : std::string("<td class=\"n\" data-v=\"-1\"></td>")) +
           num_cell(file.size) + num_cell(file.problems) + "<td>" + escape_html(file.error) + "</td></tr>\n";
  }
  out += "</tbody></table>\n" + more_line(l.files.size(), l.file_count, "files");
  out += "</section>\n";
}

void open_document(std::string& out, const std::string& title) {
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<meta name=\"generator\" content=\"quarrow " QUARROW_VERSION "\">\n<title>";
  out += escape_html(title);
  out += "</title>\n<style>";
  out += kStyle;
  out += "</style>\n</head>\n<body>\n<main>\n";
}

void close_document(std::string& out) {
  out += "<script>";
  out += kSortScript;
  out += "</script>\n</main>\n</body>\n</html>\n";
}

}  // namespace

std::string render_report_html(const ReportFacts& f) {
  std::string out;
  open_document(out, "quarrow report: " + f.file_name);
  out += "<h1>" + escape_html(f.file_name) + "</h1>\n<p class=\"sub\"><code>" + escape_html(f.path) + "</code> &middot; " +
         bytes_text(f.file_size) + " &middot; report by quarrow " QUARROW_VERSION "</p>\n";
  out += "<nav><a href=\"#header\">Header</a><a href=\"#verify\">Verification</a><a href=\"#page-map\">Page map</a>"
         "<a href=\"#catalog-problems\">Catalog problems</a><a href=\"#tables\">Tables</a><a href=\"#recovered\">Recovered</a><a href=\"#carved\">Carved</a>"
         "<a href=\"#events\">Events</a>";
  if (f.logs) out += "<a href=\"#logs\">Logs</a>";
  out += "</nav>\n";
  render_header(out, f);
  render_verify(out, f);
  render_map(out, f);
  render_catalog_problems(out, f);
  render_tables(out, f);
  render_recovered(out, f);
  render_carved(out, f);
  render_events(out, f.events);
  if (f.logs) render_logs(out, *f.logs);
  close_document(out);
  return out;
}

std::string render_index_html(const std::vector<IndexEntry>& entries) {
  std::string out;
  open_document(out, "quarrow reports");
  out += "<h1>quarrow reports</h1>\n<p class=\"sub\">" + num(entries.size()) + " databases</p>\n";
  out += "<table class=\"sortable\" id=\"report-list\"><thead><tr><th>Database</th><th>State</th>"
         "<th class=\"n\">Pages</th><th class=\"n\">Tables</th><th class=\"n\">Damaged pages</th></tr></thead><tbody>\n";
  for (const IndexEntry& e : entries) {
    out += "<tr><td>";
    if (e.href.empty()) {
      out += escape_html(e.path) + "<br><span class=\"bad\">" + escape_html(e.error) + "</span></td><td></td>" +
             "<td class=\"n\" data-v=\"-1\"></td><td class=\"n\" data-v=\"-1\"></td><td class=\"n\" data-v=\"-1\"></td>";
    } else {
      out += "<a href=\"" + escape_html(e.href) + "\">" + escape_html(e.path) + "</a></td><td>" + escape_html(e.state) +
             "</td>" + num_cell(e.total_pages) + num_cell(e.tables) + num_cell(e.damaged);
    }
    out += "</tr>\n";
  }
  out += "</tbody></table>\n";
  close_document(out);
  return out;
}

}  // namespace quarrow::report
