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
std::optional<LinkTarget> ParseLinkTarget(std::u16string_view stored, const TargetContext& context);

// The reference to store for newPath, written in the form, separators and
// escaping that target was found in, with its suffix kept. Gives target.stored
// when newPath equals target.absolutePath.
std::u16string FormatLinkTarget(const LinkTarget& target, std::u16string_view newPath,
                                const TargetContext& context);

}  // namespace quavelle::docserver
