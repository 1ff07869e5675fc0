#!/usr/bin/env bash
# Writes a small tree of real documents (.docx and .odt packages) whose links
# point to C:\... and \\srv1\proj\..., for trying the program by hand.
# Usage: samples/make-samples.sh OUTPUT_FOLDER   (the tree goes to OUTPUT_FOLDER/Projects)
set -euo pipefail

out="${1:?usage: $0 OUTPUT_FOLDER}"
command -v zip >/dev/null || { echo "make-samples: 'zip' is needed (scripts/install-deps.sh build)" >&2; exit 2; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"
tree="$out/Projects"
rm -rf "$tree"
mkdir -p "$tree/Archive"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

# A Windows path as a word-processor-style relationship target: file:/// + path, spaces escaped.
ooxml_target() { printf 'file:///%s' "${1// /%20}"; }

# A Windows path as an OpenDocument link: file:///C:/x or file://server/share/x.
odf_href() {
  local path="${1//\\//}"
  path="${path// /%20}"
  if [[ "$path" == //* ]]; then printf 'file:%s' "$path"; else printf 'file:///%s' "$path"; fi
}

# make_docx FILE TITLE LINK... : one paragraph per link, each a hyperlink to it.
make_docx() {
  local file="$1" title="$2"; shift 2
  local dir="$stage/docx" body="" rels="" n=1 link
  rm -rf "$dir"; mkdir -p "$dir/_rels" "$dir/word/_rels"
  for link in "$@"; do
    rels+="<Relationship Id=\"rId$n\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink\" Target=\"$(ooxml_target "$link")\" TargetMode=\"External\"/>"
    body+="<w:p><w:hyperlink r:id=\"rId$n\"><w:r><w:t>$link</w:t></w:r></w:hyperlink></w:p>"
    n=$((n + 1))
  done
  cat > "$dir/[Content_Types].xml" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>
XML
  cat > "$dir/_rels/.rels" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>
XML
  cat > "$dir/word/_rels/document.xml.rels" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">$rels</Relationships>
XML
  cat > "$dir/word/document.xml" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body><w:p><w:r><w:t>$title</w:t></w:r></w:p>$body</w:body></w:document>
XML
  (cd "$dir" && zip -X -q -D -r "$file" '[Content_Types].xml' _rels word)
}

# make_odt FILE TITLE LINK... : one paragraph per link, each a hyperlink to it.
make_odt() {
  local file="$1" title="$2"; shift 2
  local dir="$stage/odt" body="" link
  rm -rf "$dir"; mkdir -p "$dir/META-INF"
  for link in "$@"; do
    body+="<text:p><text:a xlink:type=\"simple\" xlink:href=\"$(odf_href "$link")\">$link</text:a></text:p>"
  done
  printf '%s' 'application/vnd.oasis.opendocument.text' > "$dir/mimetype"
  cat > "$dir/META-INF/manifest.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2"><manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/><manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>
XML
  cat > "$dir/content.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.2"><office:body><office:text><text:p>$title</text:p>$body</office:text></office:body></office:document-content>
XML
  # mimetype first and stored, as the format asks.
  (cd "$dir" && zip -X -q -0 "$file" mimetype && zip -X -q -D -r "$file" META-INF content.xml)
}

make_docx "$tree/Plan.docx" "Project plan" \
  '\\srv1\proj\Budget 2024.xlsx' 'C:\Data\Notes.docx' '\\srv1\proj\Specs\Design.docx'
make_odt "$tree/Minutes.odt" "Meeting minutes" \
  '\\srv1\proj\Minutes-2023.odt' 'C:\Data\Agenda.odt'
make_docx "$tree/Archive/Report.docx" "Yearly report" \
  '\\srv1\proj\Archive\Old Report.docx' '\\srv3\other\Contacts.docx'
make_odt "$tree/Archive/Summary.odt" "Summary" '\\SRV1\proj\Plan.docx' 'C:\Data\Figures.odt'
printf 'Not a document: the walk passes over it.\n' > "$tree/notes.txt"

echo "$tree"
