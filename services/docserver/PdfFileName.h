#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "services/docserver/LinkTarget.h"

// How a PDF names another file, as text, and how that text maps to and from the
// full path that AbsolutePath gives (a Windows path for drives and shares).
// Pure text work; the caller decodes and encodes the string's bytes.
//
// File name strings (/F, /UF, /DOS, /Unix, a launch's /Win /F):
//   /C/Data/a.doc, /C:/Data/a.doc      C:\Data\a.doc   (the first component is the drive)
//   //srv1/proj/a.doc                  \\srv1\proj\a.doc
//   /srv1/proj/a.doc                   \\srv1\proj\a.doc (a first component longer than a
//                                      drive letter is the server)
//   a.doc, ../Data/a.doc               resolved against the PDF's folder
//   C:\Data\a.doc, C:/Data/a.doc,      Windows paths, as some producers write them;
//   \\srv1\proj\a.doc, ..\Data\a.doc   taken literally or resolved against the folder
//   file:///C:/Data/a.doc, file://srv1/proj/a.doc   file URLs, escapes decoded
// Other schemes (http:, mailto:) name no file.
// URI strings (/URI): file URLs and relative references (escapes decoded);
// other schemes name no file.
//
// A new path is written in the form found: slash syntax stays slash syntax (a
// drive as /D/..., with the colon if the original had one; a share as //srv/...,
// or /srv/... where the original used one slash), Windows paths keep their
// separator, relative references stay relative while the new path is below the
// same root as the folder, file URLs keep their style. A relative form whose new
// path is on another drive or share is written as that form's absolute spelling.
namespace quavelle::docserver {

enum class PdfNameSyntax {
  FileName,  // a file name string
  Uri,       // the address of a URI action
};

enum class PdfPathForm {
  SlashSyntax,  // /C/Data/a.doc, //srv1/proj/a.doc, ../Data/a.doc
  WindowsPath,  // C:\Data\a.doc, C:/Data/a.doc, \\srv1\proj\a.doc, ..\Data\a.doc
  Url,          // file: URLs, and every relative URI
};

struct PdfPath {
  std::u16string absolutePath;
  PdfPathForm form = PdfPathForm::SlashSyntax;
  bool relative = false;       // resolved against the folder
  bool driveColon = false;     // SlashSyntax: /C:/Data rather than /C/Data
  bool oneSlashShare = false;  // SlashSyntax: /srv1/proj rather than //srv1/proj
  char16_t separator = u'/';   // WindowsPath: the separator found first
  LinkTarget url;              // Url: the reading of the link-target rules
};

// folder is the PDF's own folder, a POSIX or Windows path. nullopt when the
// text names no file.
std::optional<PdfPath> ReadPdfPath(std::u16string_view text, PdfNameSyntax syntax,
                                   std::u16string_view folder);

// The text for newPath in found's form. The caller checks that it reads back.
std::u16string WritePdfPath(const PdfPath& found, std::u16string_view newPath,
                            std::u16string_view folder);

}  // namespace quavelle::docserver
