#pragma once

#include "services/docserver/LinkText.h"

// Where the file name of a reference ends and what follows it: an item
// ("!Sheet1!R1C1") or a fragment ("#Sheet1") that a rewrite keeps.
namespace quavelle::docserver::link_text {

// Whether s[0, end) ends in a file name extension such as ".xlsx": a dot after
// a non-empty name, then up to ten ASCII letters or digits with at least one
// letter (so "v2.0" has none). Looks back a bounded distance only.
bool EndsWithExtension(View s, std::size_t end);

// An Office Open XML item ("!Sheet1!R1C1") starts at the first '!' of the file
// name that follows its extension; a '!' in a folder name has a separator
// after it. decode: look for the extension in the decoded name. npos if none.
std::size_t FindItem(View s, bool decode);

// In a plain Windows path '#' is a legal file name character, so it starts a
// fragment only after the file name's extension, and only when what follows
// does not itself look like the rest of a file name ("report.final#2.docx").
std::size_t FindPlainFragment(View s, bool decode);

}  // namespace quavelle::docserver::link_text
