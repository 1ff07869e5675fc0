#include "SuiteSamples.h"

#include "LegacyFixture.h"
#include "TempFolder.h"

#include <utility>
#include <vector>

namespace quavelle::testing {
namespace {

const char kHead[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet>
)";
const char kTail[] = "</office:spreadsheet></office:body></office:document>\n";

// Hyperlinks to a drive and a server, formulas that read two other workbooks
// (with the cached copies of the sheets they read).
const char kLinkSheets[] = R"(<table:table table:name="Sheet1">
<table:table-row><table:table-cell office:value-type="string"><text:p><text:a xlink:type="simple" xlink:href="file:///C:/Data/budget.ods">budget</text:a></text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="string"><text:p><text:a xlink:type="simple" xlink:href="file://srv1/proj/costs.xls">costs</text:a></text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell table:formula="of:=['file:///C:/Data/plan.xls'#$Sheet1.A1]*2" office:value-type="float" office:value="42"><text:p>42</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell table:formula="of:=['file://srv1/proj/data.xls'#$Sheet1.A1]*3" office:value-type="float" office:value="9"><text:p>9</text:p></table:table-cell></table:table-row>
</table:table>
)";
const char kCachedSheets[] =
    R"(<table:table table:name="'file:///C:/Data/plan.xls'#Sheet1" table:print="false"><table:table-source xlink:type="simple" xlink:href="file:///C:/Data/plan.xls" table:table-name="Sheet1" table:mode="copy-results-only"/><table:table-row><table:table-cell office:value-type="float" office:value="21"><text:p>21</text:p></table:table-cell></table:table-row></table:table>
<table:table table:name="'file://srv1/proj/data.xls'#Sheet1" table:print="false"><table:table-source xlink:type="simple" xlink:href="file://srv1/proj/data.xls" table:table-name="Sheet1" table:mode="copy-results-only"/><table:table-row><table:table-cell office:value-type="float" office:value="3"><text:p>3</text:p></table:table-cell></table:table-row></table:table>
)";

std::string SecondSheet(int rows) {
  std::string out = "<table:table table:name=\"Second\">";
  for (int i = 1; i <= rows; ++i) {
    const std::string v = std::to_string(i * 7);
    out += "<table:table-row><table:table-cell office:value-type=\"float\" office:value=\"" + v +
           "\"><text:p>" + v +
           "</text:p></table:table-cell><table:table-cell "
           "office:value-type=\"string\"><text:p>row " +
           v + "</text:p></table:table-cell></table:table-row>";
  }
  return out + "</table:table>\n";
}

const char kWriterSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>Plan: <text:a xlink:type="simple" xlink:href="file:///C:/Data/plan.xlsx">plan</text:a></text:p>
<text:p>Report: <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">report</text:a> and again <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">here</text:a></text:p>
<text:p>Site: <text:a xlink:type="simple" xlink:href="https://example.org/x">site</text:a></text:p>
<text:p><draw:frame draw:name="logo" text:anchor-type="as-char" svg:width="2cm" svg:height="1cm"><draw:image xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad" xlink:href="file:///C:/Data/logo.png"/></draw:frame></text:p>
</office:text></office:body></office:document>
)";

// Hyperlinks in every story a binary document keeps apart: main text,
// header, footer, footnote, endnote and text box.
const char kStoriesSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles><style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm"/></style:page-layout></office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"><style:header><text:p>Header <text:a xlink:type="simple" xlink:href="file://srv1/head/h.doc">head</text:a></text:p></style:header><style:footer><text:p>Footer <text:a xlink:type="simple" xlink:href="file:///C:/Foot/f.doc">foot</text:a></text:p></style:footer></style:master-page></office:master-styles>
<office:body><office:text>
<text:p>Main <text:a xlink:type="simple" xlink:href="file:///C:/Data/main.xls">main</text:a> note<text:note text:id="n1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>See <text:a xlink:type="simple" xlink:href="file://srv1/notes/n.doc">note</text:a></text:p></text:note-body></text:note> end<text:note text:id="n2" text:note-class="endnote"><text:note-citation>i</text:note-citation><text:note-body><text:p>End <text:a xlink:type="simple" xlink:href="file://srv1/notes/e.doc">endnote</text:a></text:p></text:note-body></text:note></text:p>
<text:p><draw:frame draw:name="box" text:anchor-type="paragraph" svg:width="6cm" svg:height="2cm"><draw:text-box><text:p>Box <text:a xlink:type="simple" xlink:href="file:///C:/Box/b.doc">box</text:a></text:p></draw:text-box></draw:frame>After <text:a xlink:type="simple" xlink:href="file:///C:/Data/last.xls">last</text:a></text:p>
</office:text></office:body></office:document>
)";

const char kPresentationSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:body><office:presentation>
<draw:page draw:name="One"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="20cm" svg:height="3cm"><draw:text-box><text:p>See <text:a xlink:type="simple" xlink:href="file:///C:/Data/plan.xls">plan</text:a> and <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">report</text:a></text:p></draw:text-box></draw:frame></draw:page>
<draw:page draw:name="Two"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="20cm" svg:height="3cm"><draw:text-box><text:p>Again <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">report</text:a> and <text:a xlink:type="simple" xlink:href="https://example.org/">web</text:a></text:p></draw:text-box></draw:frame></draw:page>
</office:presentation></office:body></office:document>
)";

// One conversion's folder: sources in src/, results beside them.
struct Converted {
  TempFolder folder;
  Converted(const char* format, const std::vector<std::pair<std::string, std::string>>& sources) {
    const auto src = folder.path() / "src";
    std::filesystem::create_directories(src);
    std::vector<std::filesystem::path> inputs;
    for (const auto& [name, text] : sources) {
      WriteFile(src / name, text);
      inputs.push_back(src / name);
    }
    Convert(folder.path() / "suite", format, folder.path(), inputs);
  }
  std::filesystem::path operator/(const std::string& name) const { return folder.path() / name; }
};

const Converted& Workbooks() {
  static const Converted converted(
      "xls",
      {{"links.fods", kHead + std::string(kLinkSheets) + SecondSheet(1) + kCachedSheets + kTail},
       {"big.fods", kHead + std::string(kLinkSheets) + SecondSheet(600) + kCachedSheets + kTail},
       {"later.fods", kHead + SecondSheet(600) + kLinkSheets + kCachedSheets + kTail},
       {"nolinks.fods", kHead + SecondSheet(3) + kTail}});
  return converted;
}

const Converted& Documents() {
  static const Converted converted(
      "doc", {{"links.fodt", kWriterSource}, {"stories.fodt", kStoriesSource}});
  return converted;
}

const Converted& Presentations() {
  static const Converted converted("ppt", {{"links.fodp", kPresentationSource}});
  return converted;
}

}  // namespace

const std::filesystem::path& SuiteSamples::links() const {
  static const auto path = Workbooks() / "links.xls";
  return path;
}
const std::filesystem::path& SuiteSamples::big() const {
  static const auto path = Workbooks() / "big.xls";
  return path;
}
const std::filesystem::path& SuiteSamples::later() const {
  static const auto path = Workbooks() / "later.xls";
  return path;
}
const std::filesystem::path& SuiteSamples::noLinks() const {
  static const auto path = Workbooks() / "nolinks.xls";
  return path;
}
const std::filesystem::path& SuiteSamples::doc() const {
  static const auto path = Documents() / "links.doc";
  return path;
}
const std::filesystem::path& SuiteSamples::stories() const {
  static const auto path = Documents() / "stories.doc";
  return path;
}
const std::filesystem::path& SuiteSamples::ppt() const {
  static const auto path = Presentations() / "links.ppt";
  return path;
}
const std::filesystem::path& SuiteSamples::work() const {
  static const TempFolder folder;
  return folder.path();
}

const SuiteSamples& Samples() {
  static const SuiteSamples samples;
  return samples;
}

}  // namespace quavelle::testing
