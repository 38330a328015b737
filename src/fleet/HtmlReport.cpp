#include "fleet/HtmlReport.h"

#include <cstdio>

#include "base/TextCodec.h"

namespace tarnwick::fleet {
namespace {

// Narrow screens get one card per device, each cell labelled from its
// data-label (our fixed column names, never device text).
constexpr const char kStyle[] = R"(
body{font:15px/1.4 system-ui,sans-serif;margin:1em;color:#222;background:#fff}
h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.15em;margin:1.2em 0 .4em}
.when{color:#555;margin:0 0 .8em}
.totals{display:flex;flex-wrap:wrap;gap:.5em;list-style:none;padding:0;margin:0 0 .8em}
.totals li{border:1px solid #ccc;border-radius:6px;padding:.3em .7em}
.totals b{font-size:1.2em}
.stale-line{font-weight:bold;color:#a40}
table{border-collapse:collapse;width:100%}
th,td{border-bottom:1px solid #ddd;padding:.3em .5em;text-align:left;vertical-align:top;overflow-wrap:anywhere}
td.num{text-align:right;font-variant-numeric:tabular-nums}
tr.bad td{background:#fde8e8}tr.chg td{background:#e8f1fd}tr.off td{color:#777}
.mark{color:#a40;font-weight:bold}
details{margin:.5em 0;border:1px solid #ddd;border-radius:6px;padding:.3em .6em}
summary{font-weight:bold;cursor:pointer;overflow-wrap:anywhere}
pre{margin:.4em 0;font-size:13px;white-space:pre-wrap;overflow-wrap:anywhere}
.add{color:#060;background:#efe}.del{color:#a00;background:#fee}.hunk{color:#06c}.file{color:#555}
@media (max-width:640px){
 thead{display:none}
 table,tbody,tr,td{display:block;width:auto}
 tr{border:1px solid #ccc;border-radius:6px;margin:0 0 .6em;padding:.2em 0}
 td{border:none;display:flex;justify-content:space-between;gap:1em}
 td.num{text-align:left}
 td::before{content:attr(data-label);font-weight:bold;color:#555;flex:none}
})";

constexpr const char* kColumns[] = {"Device",       "Host",  "Via",   "Result",   "Bytes",
                                    "Last success", "Stale", "Error", "Last push"};

// Results are our words; anything else gets no colour rather than a class
// made from its text.
const char* RowClass(const std::string& result) {
  if (result == "changed" || result == "new") return "chg";
  if (result == "failed" || result == "refused" || result == "interrupted" || result == "not reached")
    return "bad";
  // Not pushed yet is no fault until it is stale, which the row says.
  if (result == "disabled" || result == "not pushed") return "off";
  return "ok";
}

const char* DiffLineClass(const std::string& line) {
  if (line.rfind("+++ ", 0) == 0 || line.rfind("--- ", 0) == 0) return "file";
  if (line.rfind("@@", 0) == 0) return "hunk";
  if (!line.empty() && line[0] == '+') return "add";
  if (!line.empty() && line[0] == '-') return "del";
  return nullptr;
}

void AppendCell(std::string& out, int column, const std::string& html, const char* cellClass = nullptr) {
  out += "<td";
  if (cellClass) out += std::string(" class=\"") + cellClass + "\"";
  out += std::string(" data-label=\"") + kColumns[column] + "\">" + html + "</td>";
}

void AppendDevices(std::string& out, const std::vector<HtmlDeviceRow>& rows) {
  out += "<table class=\"devices\">\n<thead><tr>";
  for (const char* column : kColumns) out += std::string("<th>") + column + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const HtmlDeviceRow& row : rows) {
    out += std::string("<tr class=\"device ") + RowClass(row.result) + "\">";
    AppendCell(out, 0, HtmlEscaped(row.device));
    AppendCell(out, 1, HtmlEscaped(row.host));
    AppendCell(out, 2, HtmlEscaped(row.via));
    AppendCell(out, 3, HtmlEscaped(row.result));
    AppendCell(out, 4, std::to_string(row.bytes), "num");
    AppendCell(out, 5, row.lastSuccess.empty() ? "never" : HtmlEscaped(row.lastSuccess));
    AppendCell(out, 6, row.stale ? "<span class=\"mark\">stale</span>" : "");
    AppendCell(out, 7, HtmlEscaped(row.error));
    AppendCell(out, 8, HtmlEscaped(row.lastPush));
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
}

void AppendDiff(std::string& out, const HtmlDiff& diff) {
  out += "<details open><summary>" + HtmlEscaped(diff.device) + "</summary><pre class=\"diff\">";
  std::size_t pos = 0;
  while (pos < diff.diff.size()) {
    std::size_t end = diff.diff.find('\n', pos);
    if (end == std::string::npos) end = diff.diff.size();
    const std::string line = diff.diff.substr(pos, end - pos);
    const char* lineClass = DiffLineClass(line);
    if (lineClass) out += std::string("<span class=\"") + lineClass + "\">";
    out += HtmlEscaped(line);
    if (lineClass) out += "</span>";
    out += '\n';
    pos = end + 1;
  }
  out += "</pre></details>\n";
}

void AppendUtf8Replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

std::string HtmlEscaped(const std::string& text) {
  // Decoding and encoding again turns every invalid sequence into U+FFFD.
  const std::u16string units = Utf8ToUtf16(text);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    switch (unit) {
      case u'&':
        out += "&amp;";
        continue;
      case u'<':
        out += "&lt;";
        continue;
      case u'>':
        out += "&gt;";
        continue;
      case u'"':
        out += "&quot;";
        continue;
      case u'\'':
        out += "&#39;";
        continue;
      case u'\t':
      case u'\n':
        out += static_cast<char>(unit);
        continue;
      case u'\r':
        if (i + 1 < units.size() && units[i + 1] == u'\n') continue;
        AppendUtf8Replacement(out);
        continue;
      default:
        break;
    }
    if (unit < 0x20 || (unit >= 0x7f && unit <= 0x9f)) {
      AppendUtf8Replacement(out);
      continue;
    }
    // A bidirectional control would reverse the rest of its row: shown as text.
    if (unit == 0x200E || unit == 0x200F || (unit >= 0x202A && unit <= 0x202E) ||
        (unit >= 0x2066 && unit <= 0x2069)) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
      out += escape;
      continue;
    }
    // Copy the character (one unit, or a surrogate pair) back as UTF-8.
    const std::size_t length = (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size()) ? 2 : 1;
    out += Utf16ToUtf8(std::u16string_view(units).substr(i, length));
    i += length - 1;
  }
  return out;
}

std::string HtmlReportPage(const HtmlRunPage& page) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'\">\n"
      "<title>" +
      HtmlEscaped(page.title) + "</title>\n<style>" + kStyle + "\n</style>\n</head>\n<body>\n<h1>" +
      HtmlEscaped(page.title) + "</h1>\n";
  if (!page.started.empty() || !page.finished.empty()) {
    // When the page was made comes first: a page left from an earlier night
    // (the last run died before writing its own) must not pass for today's.
    out += "<p class=\"when\">";
    if (!page.finished.empty()) out += "Page made " + HtmlEscaped(page.finished);
    if (!page.started.empty() && !page.finished.empty()) out += ", by the run started ";
    if (!page.started.empty()) out += (page.finished.empty() ? "Started " : "") + HtmlEscaped(page.started);
    out += "</p>\n";
  }
  out += "<ul class=\"totals\">\n";
  for (const HtmlTotal& total : page.totals)
    out += "<li><b>" + std::to_string(total.count) + "</b> " + HtmlEscaped(total.label) + "</li>\n";
  out += "</ul>\n";
  if (!page.staleLine.empty()) out += "<p class=\"stale-line\">" + HtmlEscaped(page.staleLine) + "</p>\n";
  AppendDevices(out, page.devices);
  if (!page.diffs.empty()) {
    out += "<h2>Changes</h2>\n";
    for (const HtmlDiff& diff : page.diffs) AppendDiff(out, diff);
  }
  return out + "</body>\n</html>\n";
}

}  // namespace tarnwick::fleet
