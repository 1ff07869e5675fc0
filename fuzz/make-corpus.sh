#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets into fuzz/corpus/: small packages
# of each kind with links in the forms producers write, and reference texts.
# Each package seed is one selector byte (see DocumentServerFuzzer.cpp) and the
# package bytes. Entries are mostly stored, so mutations reach the XML.
set -euo pipefail
cd "$(dirname "$0")"
out="$PWD/corpus"
rm -rf "$out" && mkdir -p "$out/docserver" "$out/linktarget" "$out/ziprewriter" "$out/pdf" "$out/shortcut" "$out/legacy"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

R='http://schemas.openxmlformats.org/officeDocument/2006/relationships'
P='http://schemas.openxmlformats.org/package/2006/relationships'
decl='<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'

# package <seed name> <selector byte, hex> <zip options> <folder>
package() {
  local name="$1" selector="$2" opts="$3" dir="$4"
  find "$dir" -exec touch -d '2024-01-01 00:00:00' {} +
  (cd "$dir" && if [ -f mimetype ]; then zip -q -X -0 "$work/$name.zip" mimetype; fi &&
    find . -type f ! -name mimetype | sed 's|^\./||' | LC_ALL=C sort |
    zip -q -X $opts "$work/$name.zip" -@)
  { printf "\\x$selector"; cat "$work/$name.zip"; } >"$out/docserver/$name"
  # The package writer's seeds: the same packages, the low bits picking the
  # entries to replace.
  { printf "\\x$selector"; cat "$work/$name.zip"; } >"$out/ziprewriter/$name"
}

# --- word processing, Office Open XML
d="$work/docx"; mkdir -p "$d/_rels" "$d/word/_rels"
cat >"$d/[Content_Types].xml" <<EOF
$decl<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>
EOF
cat >"$d/_rels/.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/officeDocument" Target="word/document.xml"/></Relationships>
EOF
cat >"$d/word/document.xml" <<EOF
$decl<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="$R"><w:body><w:p><w:hyperlink r:id="rId2" w:anchor="Sheet1!A1"><w:r><w:t xml:space="preserve">plan </w:t></w:r></w:hyperlink><w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText xml:space="preserve"> INCLUDETEXT "C:\\\\Data\\\\cha</w:instrText></w:r><w:r><w:instrText>pter.docx" </w:instrText></w:r><w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r></w:p></w:body></w:document>
EOF
cat >"$d/word/_rels/document.xml.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/styles" Target="styles.xml"/><Relationship Id="rId2" Type="$R/hyperlink" Target="file:///C:\\Data\\Q1%20plan.xlsx" TargetMode="External"/><Relationship Id="rId3" Type="$R/image" Target="file:///\\\\srv1\\proj\\logo.png" TargetMode="External"/><Relationship Id="rId4" Type="$R/hyperlink" Target="../Data/rel%20doc.docx" TargetMode="External"/><Relationship Id="rId5" Type="$R/hyperlink" Target="https://example.org/" TargetMode="External"/><Relationship Id="rId6" Type="$R/oleObject" Target="file:///C:/old/data.xlsx!Tables!R1C1:R5C5" TargetMode="External"/><Relationship Id="rId7" Type="$R/subDocument" Target="\\\\srv1\\proj\\ch%C3%A4pter.docx" TargetMode="External"/></Relationships>
EOF
package word-stored 80 -0 "$d"
package word-deflated 00 -9 "$d"
package word-as-template 08 -0 "$d"

# --- spreadsheet, Office Open XML, with a workbook link
d="$work/xlsx"; mkdir -p "$d/_rels" "$d/xl/_rels" "$d/xl/worksheets/_rels" "$d/xl/externalLinks/_rels"
cat >"$d/[Content_Types].xml" <<EOF
$decl<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/></Types>
EOF
cat >"$d/_rels/.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/officeDocument" Target="xl/workbook.xml"/></Relationships>
EOF
cat >"$d/xl/workbook.xml" <<EOF
$decl<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="$R"><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets><externalReferences><externalReference r:id="rId2"/></externalReferences></workbook>
EOF
cat >"$d/xl/_rels/workbook.xml.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="$R/externalLink" Target="externalLinks/externalLink1.xml"/></Relationships>
EOF
cat >"$d/xl/worksheets/sheet1.xml" <<EOF
$decl<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="$R"><sheetData><row r="1"><c r="A1"><f>[1]Sheet1!A1*2</f><v>42</v></c></row></sheetData><hyperlinks><hyperlink ref="A2" r:id="rId1" location="Sheet1!A1"/></hyperlinks></worksheet>
EOF
cat >"$d/xl/worksheets/_rels/sheet1.xml.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/hyperlink" Target="/contracts/disk/plan.xlsx" TargetMode="External"/></Relationships>
EOF
cat >"$d/xl/externalLinks/externalLink1.xml" <<EOF
$decl<externalLink xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="$R"><externalBook r:id="rId1"><sheetNames><sheetName val="Sheet1"/></sheetNames></externalBook></externalLink>
EOF
cat >"$d/xl/externalLinks/_rels/externalLink1.xml.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/externalLinkPath" Target="file:///\\\\srv1\\proj\\budget%202024.xlsx" TargetMode="External"/><Relationship Id="rId2" Type="http://schemas.microsoft.com/office/2006/relationships/xlExternalLinkPath/xlPathMissing" Target="c:\\sourceData.xlsx" TargetMode="External"/></Relationships>
EOF
package sheet-stored 81 -0 "$d"

# --- presentation, Office Open XML
d="$work/pptx"; mkdir -p "$d/_rels" "$d/ppt/slides/_rels"
cp "$work/docx/[Content_Types].xml" "$d/"
cat >"$d/_rels/.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/officeDocument" Target="ppt/presentation.xml"/></Relationships>
EOF
echo "$decl<p:presentation xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"/>" >"$d/ppt/presentation.xml"
echo "$decl<p:sld xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"/>" >"$d/ppt/slides/slide1.xml"
cat >"$d/ppt/slides/_rels/slide1.xml.rels" <<EOF
$decl<Relationships xmlns="$P"><Relationship Id="rId1" Type="$R/hyperlink" Target="file://srv1/proj/deck.pptx" TargetMode="External"/><Relationship Id="rId2" Type="$R/video" Target="file:///C:/Media/intro.mp4" TargetMode="External"/><Relationship Id="rId3" Type="$R/image" Target="../media/image1.png"/></Relationships>
EOF
package slides-stored 82 -0 "$d"

# --- text document, OpenDocument, with a sub-document
d="$work/odt"; mkdir -p "$d/META-INF" "$d/Object 1" "$d/Pictures"
printf 'application/vnd.oasis.opendocument.text' >"$d/mimetype"
cat >"$d/META-INF/manifest.xml" <<EOF
$decl<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.3"><manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/><manifest:file-entry manifest:full-path="Object 1/content.xml" manifest:media-type="text/xml"/><manifest:file-entry manifest:full-path="Pictures/1.png" manifest:media-type="image/png"/></manifest:manifest>
EOF
odf='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0"'
cat >"$d/content.xml" <<EOF
$decl<office:document-content $odf office:version="1.3"><office:body><office:text><text:p><text:a xlink:type="simple" xlink:href="file:///C:/Data/%C3%BCber%20plan.odt">a</text:a><text:a xlink:href="file://srv1/proj/a.odt#Top">b</text:a><text:a xlink:href="../../Data/rel%20doc.odt">c</text:a><text:a xlink:href="#Top">d</text:a><draw:frame><draw:image xlink:href="Pictures/1.png"/></draw:frame><draw:frame><draw:image xlink:href="file:///C:/Data/logo.png"/></draw:frame></text:p><text:section text:name="s"><text:section-source xlink:href="file:///C:/Data/chapter.odt" text:section-name="Intro"/></text:section><draw:frame><draw:object xlink:href="./Object 1"/></draw:frame></office:text></office:body></office:document-content>
EOF
cat >"$d/Object 1/content.xml" <<EOF
$decl<office:document-content $odf><office:body><office:text><text:p><text:a xlink:href="../../../Data/inner.ods">e</text:a></text:p></office:text></office:body></office:document-content>
EOF
cat >"$d/meta.xml" <<EOF
$decl<office:document-meta $odf><office:meta><meta:template xlink:type="simple" xlink:href="file:///C:/Templates/corp.ott" xlink:title="corp"/></office:meta></office:document-meta>
EOF
printf '\x89PNG\r\n\x1a\n' >"$d/Pictures/1.png"
package text-stored 83 -0 "$d"
package text-deflated 03 -9 "$d"

# --- spreadsheet, OpenDocument, with a workbook link in a formula
d="$work/ods"; mkdir -p "$d/META-INF"
printf 'application/vnd.oasis.opendocument.spreadsheet' >"$d/mimetype"
sed 's/opendocument.text/opendocument.spreadsheet/' "$work/odt/META-INF/manifest.xml" >"$d/META-INF/manifest.xml"
cat >"$d/content.xml" <<EOF
$decl<office:document-content $odf office:version="1.3"><office:body><office:spreadsheet><table:table table:name="Sheet1"><table:table-row><table:table-cell table:formula="of:=[&apos;file:///C:/Data/plan.ods&apos;#\$Sheet1.A1]*2"/></table:table-row></table:table><table:table table:name="&apos;file:///C:/Data/plan.ods&apos;#Sheet1"><table:table-source xlink:href="file:///C:/Data/plan.ods" table:table-name="Sheet1"/></table:table></office:spreadsheet></office:body></office:document-content>
EOF
package sheet-odf-stored 84 -0 "$d"

# --- flat text document
cat >"$out/docserver/text-flat" <<EOF
$(printf '\x8c')$decl<office:document $odf office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text><text:p><text:a xlink:href="file:///C:/Data/a.odt">a</text:a><text:a xlink:href="../Data/b.odt">b</text:a></text:p></office:text></office:body></office:document>
EOF

# --- packages in the forms the writer must copy: data descriptors (written to a
# pipe), a prefix and an archive comment
(cd "$work/docx" && zip -q -X - '[Content_Types].xml' _rels/.rels word/document.xml | cat) |
  { printf '\x05'; cat; } >"$out/ziprewriter/streamed"
printf 'stub' | cat - "$work/word-stored.zip" >"$work/prefixed.zip"
zip -q -A "$work/prefixed.zip" && echo 'a comment' | zip -q -z "$work/prefixed.zip"
{ printf '\x06'; cat "$work/prefixed.zip"; } >"$out/ziprewriter/prefixed-comment"
# --- PDFs: objects written by hand, given offsets and a cross-reference table
# by qpdf
pdf() {
  local name="$1" options="$2"
  qpdf --static-id --no-warn --warning-exit-0 $options "$work/$3.raw" "$out/pdf/$name"
}
link() { echo "<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A $1 >>"; }
cat >"$work/kinds.raw" <<EOF
%PDF-1.7
1 0 obj << /Type /Catalog /Pages 2 0 R /Outlines 9 0 R /AcroForm << /Fields [11 0 R] >> /OpenAction << /S /Launch /F (/C/Data/start.docx) >> /AA << /WC << /S /URI /URI (file:///C:/Data/close.docx) >> >> >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R 5 0 R 6 0 R 7 0 R 11 0 R] >> endobj
4 0 obj $(link '<< /S /URI /URI (file:///C:/Data/Q1%20plan.docx) /Next [<< /S /URI /URI (https://example.org/) >>] >>') endobj
5 0 obj $(link '<< /S /GoToR /F (//srv1/proj/report.pdf) /D [0 /Fit] >>') endobj
6 0 obj $(link '<< /S /Launch /F (/C/Tools/run.bat) /Win << /F (C:\\Tools\\run.bat) >> >>') endobj
7 0 obj $(link '<< /S /GoToR /F 8 0 R /D [0 /Fit] >>') endobj
8 0 obj << /Type /Filespec /F (/C/Data/a.pdf) /UF <FEFF002F0043002F0061002E007000640066> /DOS (C:\\\\DATA\\\\A.PDF) >> endobj
9 0 obj << /Type /Outlines /First 10 0 R /Last 10 0 R /Count 1 >> endobj
10 0 obj << /Title (a) /Parent 9 0 R /A << /S /GoToR /F (../Data/b.pdf) /D [0 /Fit] >> >> endobj
11 0 obj << /FT /Btn /T (go) /Type /Annot /Subtype /Widget /Rect [0 0 9 9] /P 3 0 R /A << /S /Launch /F (file:///C:/Data/form.xlsx) >> >> endobj
trailer << /Size 12 /Root 1 0 R >>
%%EOF
EOF
pdf kinds "" kinds
pdf kinds-streams "--object-streams=generate" kinds
pdf kinds-linearized "--linearize" kinds
cat >"$work/signed.raw" <<EOF
%PDF-1.7
1 0 obj << /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /SigFlags 3 >> >> endobj
2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj
3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >> endobj
4 0 obj $(link '<< /S /Launch /F (/C/Data/plan.docx) >>') endobj
5 0 obj << /FT /Sig /T (sig) /V << /Type /Sig /ByteRange [0 10 20 30] /Contents <00> >> >> endobj
trailer << /Size 6 /Root 1 0 R >>
%%EOF
EOF
pdf signed "" signed

# --- legacy binary files (compound files), written by the office suite when it
# is installed: selector byte (see LegacyFuzzer.cpp), then the file.
if command -v soffice >/dev/null 2>&1; then
  l="$work/legacy"; mkdir -p "$l/profile/user" "$l/home"
  ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.3"'
  cat >"$l/profile/user/registrymodifications.xcu" <<EOF
<?xml version="1.0" encoding="UTF-8"?><oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><item oor:path="/org.openoffice.Office.Common/Save/URL"><prop oor:name="FileSystem" oor:op="fuse"><value>false</value></prop></item></oor:items>
EOF
  cat >"$l/sheet.fods" <<EOF
<?xml version="1.0" encoding="UTF-8"?><office:document $ns office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body><office:spreadsheet><table:table table:name="S"><table:table-row><table:table-cell office:value-type="string"><text:p><text:a xlink:href="file://srv1/proj/c.xls">c</text:a></text:p></table:table-cell><table:table-cell table:formula="of:=['file:///C:/D/p.xls'#\$S.A1]" office:value-type="float" office:value="1"/></table:table-row></table:table><table:table table:name="'file:///C:/D/p.xls'#S"><table:table-source xlink:href="file:///C:/D/p.xls" table:table-name="S" table:mode="copy-results-only"/></table:table></office:spreadsheet></office:body></office:document>
EOF
  cat >"$l/text.fodt" <<EOF
<?xml version="1.0" encoding="UTF-8"?><office:document $ns office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text><text:p><text:a xlink:href="file://srv1/proj/a-long-name.doc">a</text:a></text:p></office:text></office:body></office:document>
EOF
  (cd "$l" && HOME="$l/home" soffice --headless --norestore --nolockcheck \
    -env:UserInstallation="file://$l/profile" --convert-to xls sheet.fods >/dev/null 2>&1 &&
    HOME="$l/home" soffice --headless --norestore --nolockcheck \
    -env:UserInstallation="file://$l/profile" --convert-to doc text.fodt >/dev/null 2>&1)
  { printf '\x80'; cat "$l/sheet.xls"; } >"$out/legacy/sheet-repoint"
  { printf '\x03'; cat "$l/sheet.xls"; } >"$out/legacy/sheet-by-streams"
  { printf '\x81'; cat "$l/text.doc"; } >"$out/legacy/text-repoint"
else
  echo "make-corpus: no office suite; the legacy seeds are left out" >&2
fi

# --- reference texts: selector byte (syntax, base), then the text
ref() { printf "\\x$2%s" "$3" >"$out/linktarget/$1"; }
ref ooxml-drive-backslash 00 'file:///C:\Data\Q1%20plan.xlsx'
ref ooxml-drive-slash 00 'file:///C:/Data/plan.xlsx#Sheet1'
ref ooxml-unc-url 01 'file:///\\srv1\proj\a.docx'
ref ooxml-unc-host 02 'file://srv1/proj/a.docx'
ref ooxml-plain-drive 00 'c:\sourceData.xlsx'
ref ooxml-plain-unc 02 '\\srv1\proj\sub\x.xlsx'
ref ooxml-root 01 '/contracts/disk/plan.xlsx'
ref ooxml-relative 02 '../Data/rel%20doc.docx'
ref ooxml-ole-item 00 'file:///C:/old/data.xlsx!Tables!R1C1:R5C5'
ref ooxml-raw-unicode 03 'file:///D:\微信文件\W%20F.xlsx'
ref odf-drive 04 'file:///C:/Data/%C3%BCber%20plan.odt'
ref odf-host 06 'file://srv1/proj/a.odt#Top'
ref odf-relative 06 '../../Data/rel%20doc.odt'
ref odf-subdocument 0e '../../../Data/inner.ods'
ref odf-part 06 'Pictures/1.png'
ref odf-web 04 'https://example.org/x'
# --- shortcuts: selector byte (kind, new path; see ShortcutFuzzer.cpp), then the file
lnk="$PWD/../tests/shortcuts/fixtures"
for f in shell-drive shell-share; do
  { printf '\x00'; cat "$lnk/$f.lnk"; } >"$out/shortcut/$f"
done
{ printf '\x02'; cat "$lnk/shell-drive.lnk"; } >"$out/shortcut/shell-drive-to-share"
{ printf '\x06'; cat "$lnk/shell-drive.lnk"; } >"$out/shortcut/shell-drive-to-accents"
printf '\x01[InternetShortcut]\r\nURL=file:///C:/Data/plan%%20A.pdf\r\nIconIndex=0\r\nIconFile=\\\\srv1\\proj\\a.ico\r\n' \
  >"$out/shortcut/url-code-page"
printf '\x03\xEF\xBB\xBF[InternetShortcut]\nURL=file://srv1/proj/\xC3\x9Cbersicht.pdf\n[Other]\nURL=file:///C:/x\n' \
  >"$out/shortcut/url-utf8"
printf '\x07[InternetShortcut]\r\nURL=file:///C:/a.pdf\r\n[InternetShortcut.A]\r\nURL=file:///C:/a.pdf\r\n[InternetShortcut.W]\r\nURL=file:///C:/+AOQ-.pdf\r\n' \
  >"$out/shortcut/url-copies"
printf '\x05\xFF\xFE[\0I\0n\0t\0e\0r\0n\0e\0t\0S\0h\0o\0r\0t\0c\0u\0t\0]\0\r\0\n\0U\0R\0L\0=\0C\0:\0\\\0a\0\r\0\n\0' \
  >"$out/shortcut/url-utf16"
echo "corpus: $(find "$out" -type f | wc -l) files, $(du -sb "$out" | cut -f1) bytes"
