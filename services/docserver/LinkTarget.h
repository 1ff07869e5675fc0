#pragma once

#include <optional>
#include <string>
#include <string_view>

// How the two package formats write a reference to another file, and how that
// text maps to and from the full path that AbsolutePath gives. Pure text work.
namespace quavelle::docserver {

enum class TargetSyntax {
  OfficeOpenXml,  // a relationship's Target with TargetMode="External"
  OpenDocument,   // an xlink:href
};

// What a relative reference counts from.
struct TargetContext {
  TargetSyntax syntax;
  // Office Open XML: the folder that holds the package.
  // OpenDocument: the package path itself, as if it were a folder, plus the
  // sub-document's folder inside it ("/d/a.odt" or "/d/a.odt/Object 1").
  std::u16string base;
  // OpenDocument: the package path; references that resolve inside it are parts.
  // Empty for a flat (single XML file) document, which has no parts.
  std::u16string packagePath;
};

// The written form a reference was found in, so that a rewrite keeps it.
enum class TargetForm {
  PlainPath,     // C:\Data\a.doc, \\srv1\proj\a.doc, /home/u/a.odt
  FileUrl,       // file:///C:/Data/a.doc, file:///C:\Data\a.doc, file://srv1/proj/a.doc,
                 // file:///\\srv1\proj\a.doc
  RelativePath,  // a.doc, ../Data/a.doc, /Data/a.doc (root of the document's drive)
};
// A base is a POSIX path ("/home/u/docs") or a Windows one ("C:\docs", "\\srv\share\docs");
// relative references are resolved lexically in the base's style, and ".." stops at the root.

struct LinkTarget {
  std::u16string absolutePath;  // full path, Windows form for drive and share paths
  std::u16string suffix;  // "#Sheet1" or "!Sheet1!R1C1": kept on rewrite, not part of the path
  TargetForm form = TargetForm::PlainPath;
  std::u16string stored;  // the reference as found (XML-unescaped)
};

// Reads a stored reference. nullopt when it names no file outside the package:
// web and mail addresses and other schemes, fragment-only references, parts of
// the package itself.
// - Escapes (%20, UTF-8 as %C3%BC) are decoded in file URLs and relative
//   references; an escape that is not well-formed UTF-8 stays as written. A plain
//   drive or share path is an OS path and is taken literally.
// - A drive or share is what DriveNameLength (services/PathText.h) finds: a
//   server without a share ("\\srv", "file://srv") names no file, and a device
//   path's root is "\\?\UNC\srv\share" or "\\?\C:".
// - A network-path reference "//server/share/name" is a file on a share; in
//   OpenDocument it reads as "file://server/share/name", escapes decoded. "//host",
//   "//host/name", a host with a port or user, or a query is a web address.
// - A single leading '/' is the root of the base's drive or share, or, with a
//   POSIX base, a POSIX absolute path (form PlainPath).
// - Suffix: in URLs and OpenDocument relative references it starts at the first
//   '?' or '#'. Office Open XML also splits off "!item" at the first '!' that
//   follows a file name extension in the last path segment, and in plain and
//   relative paths takes '#' as a fragment only after an extension
//   ("plan.xlsx#Sheet1", not "C# Projects" or "notes#1.docx"). Where escapes are
//   decoded, the extension is looked for in the decoded name ("plan%2Exlsx!A1");
//   an escaped '!' or '#' never starts a suffix.
std::optional<LinkTarget> ParseLinkTarget(std::u16string_view stored, const TargetContext& context);

// The reference to store for newPath, written in the form, separators and
// escaping that target was found in, with its suffix kept. Gives target.stored
// when newPath equals target.absolutePath.
// - A file URL keeps its separators, host form and escapes, except that letters,
//   digits and "-._~" are always written as they are; a change of kind
//   follows the separators (file:///C:/a -> file://srv/share/a, file:///C:\a ->
//   file:///\\srv\share\a).
// - A relative reference stays relative while newPath is on the base's drive,
//   share or POSIX root; otherwise it becomes a file URL: file:///D:/x and
//   file://srv/share/x in OpenDocument, file:///D:\x and file:///\\srv\share\x in
//   Office Open XML.
// - A path without a drive ("\Data\a.doc") is written relative to the root of
//   the base's drive; a relative newPath relative to the base.
// - When a plain path would read back differently ("D:\a.xlsx!b.xlsx", where the
//   '!' would start an item), a file URL with the character escaped is written.
// - An empty newPath gives empty text; the caller should refuse it.
std::u16string FormatLinkTarget(const LinkTarget& target, std::u16string_view newPath,
                                const TargetContext& context);

}  // namespace quavelle::docserver
