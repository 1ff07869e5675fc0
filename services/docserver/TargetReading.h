#pragma once

#include <optional>

#include "services/docserver/LinkTarget.h"
#include "services/docserver/PathLocation.h"
#include "services/docserver/PercentEscapes.h"

// Reading a stored reference: which written shape it has, the full path it
// names, and the style it was written in.
namespace quavelle::docserver::link_text {

enum class Shape {
  Url,           // file:...
  WindowsPath,   // C:\..., \\srv\share\..., written literally
  RootRelative,  // /Data/x.doc: a URI path from the root
  Relative,      // ../Data/x.doc
};

struct Reading {
  Shape shape = Shape::Url;
  Kind kind = Kind::Relative;  // of the written path, for Url and WindowsPath
  Text absolutePath;
  View suffix;
  // Style of the written form.
  View scheme;  // "file" as written; empty for a network-path reference ("//srv/share/x")
  View lead;    // Url: between "file:" and drive letter, server or POSIX path; share: its two
                // separators
  char16_t sep = u'/';
  bool pipe = false;  // "C|" instead of "C:"
  Escaping escaping;
};

// nullopt when stored names no file outside the package.
std::optional<Reading> Read(View stored, const TargetContext& context);
TargetForm FormOf(const Reading& r, const TargetContext& context);

}  // namespace quavelle::docserver::link_text
