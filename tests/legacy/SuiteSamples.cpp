#include "SuiteSamples.h"

#include "LegacyFixture.h"
#include "TempFolder.h"

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
    R"(<table:table table:name="'file:///C:/Data/plan.xls'#Sheet1" table:print="false"><table:table-source xlink:type="simple" xlink:href="file:///C:/Data/plan.xls" table:table-name="Sheet1" table:filter-name="MS Excel 97" table:mode="copy-results-only"/><table:table-row><table:table-cell office:value-type="float" office:value="21"><text:p>21</text:p></table:table-cell></table:table-row></table:table>
<table:table table:name="'file://srv1/proj/data.xls'#Sheet1" table:print="false"><table:table-source xlink:type="simple" xlink:href="file://srv1/proj/data.xls" table:table-name="Sheet1" table:filter-name="MS Excel 97" table:mode="copy-results-only"/><table:table-row><table:table-cell office:value-type="float" office:value="3"><text:p>3</text:p></table:table-cell></table:table-row></table:table>
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

const char kPresentationSource[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:body><office:presentation>
<draw:page draw:name="One"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="20cm" svg:height="3cm"><draw:text-box><text:p>See <text:a xlink:type="simple" xlink:href="file:///C:/Data/plan.xls">plan</text:a> and <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">report</text:a></text:p></draw:text-box></draw:frame></draw:page>
<draw:page draw:name="Two"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="20cm" svg:height="3cm"><draw:text-box><text:p>Again <text:a xlink:type="simple" xlink:href="file://srv1/proj/report.doc">report</text:a> and <text:a xlink:type="simple" xlink:href="https://example.org/">web</text:a></text:p></draw:text-box></draw:frame></draw:page>
</office:presentation></office:body></office:document>
)";

struct Built {
  TempFolder folder;
  SuiteSamples samples;
  Built() {
    const auto src = folder.path() / "src";
    std::filesystem::create_directories(src);
    WriteFile(src / "links.fods",
              kHead + std::string(kLinkSheets) + SecondSheet(1) + kCachedSheets + kTail);
    WriteFile(src / "big.fods",
              kHead + std::string(kLinkSheets) + SecondSheet(600) + kCachedSheets + kTail);
    WriteFile(src / "nolinks.fods", kHead + SecondSheet(3) + kTail);
    WriteFile(src / "links.fodt", kWriterSource);
    samples.work = folder.path() / "suite";
    Convert(samples.work, "xls", folder.path(),
            {src / "links.fods", src / "big.fods", src / "nolinks.fods"});
    Convert(samples.work, "doc", folder.path(), {src / "links.fodt"});
    WriteFile(src / "links.fodp", kPresentationSource);
    Convert(samples.work, "ppt", folder.path(), {src / "links.fodp"});
    samples.ppt = folder.path() / "links.ppt";
    samples.doc = folder.path() / "links.doc";
    samples.links = folder.path() / "links.xls";
    samples.big = folder.path() / "big.xls";
    samples.noLinks = folder.path() / "nolinks.xls";
  }
};

}  // namespace

const SuiteSamples& Samples() {
  static const Built built;
  return built.samples;
}

}  // namespace quavelle::testing
