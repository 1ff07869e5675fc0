#pragma once

#include <cstdint>

#include "services/ServiceError.h"

// The numbers the built-in document server fails with.
//
// A bad argument:
//   5   invalid procedure call or argument   SetPath with an empty path
// File-system failures reuse the shared numbers:
//   53  file not found            the document (or a folder on its path) does not exist
//   61  disk full                 no space or quota left while writing the new package
//   70  permission denied         the document cannot be read, or the document or its
//                                 folder cannot be written
//   75  path/file access error    not a regular file (folder, FIFO, device), or any other
//                                 I/O failure
// Package failures use 1001-1009:
//   1001  not a zip package (empty, foreign data)
//   1002  an encrypted or legacy binary office file (OLE compound file, not a zip)
//   1003  damaged package: truncated, inconsistent directory, bad checksum, encrypted
//         or unsupported entry; a damaged shortcut: bad header, a size or offset past
//         the end of its structure
//   1004  a link-bearing part is not well-formed XML
//   1005  a link-bearing part declares entities of its own (a DOCTYPE with an internal subset)
//   1006  a part inflates past the size bound (compression bomb)
//   1007  the document is digitally signed; a change would break the signature
//   1008  the document changed on disk since it was opened, by someone else
//   1009  the new path cannot be written in the link's form so that it reads back
//         as that path
// PDF failures use 1010-1012 (1007 for a signed PDF):
//   1010  a PDF that cannot be read: no usable cross-reference data or trailer,
//         broken objects on the way to its links
//   1011  an encrypted PDF: one that needs a password cannot be opened; one that
//         opens without is listed, but its links are not changed
//   1012  a PDF whose links cannot be changed by an appended update: its
//         cross-reference data had to be rebuilt, or the link is kept in a stream
// Shortcut failures:
//   1013  the new path does not fit where a shortcut keeps a fixed-size field (its
//         260-character environment buffers, 16-bit lengths)
namespace quavelle::docserver::error_number {

using namespace quavelle::error_number;

inline constexpr std::int32_t kInvalidArgument = 5;
inline constexpr std::int32_t kNotAPackage = 1001;
inline constexpr std::int32_t kEncryptedDocument = 1002;
inline constexpr std::int32_t kDamagedPackage = 1003;
inline constexpr std::int32_t kMalformedPart = 1004;
inline constexpr std::int32_t kDocTypeInPart = 1005;
inline constexpr std::int32_t kPartTooLarge = 1006;
inline constexpr std::int32_t kSignedDocument = 1007;
inline constexpr std::int32_t kDocumentChanged = 1008;
inline constexpr std::int32_t kUnwritablePath = 1009;
inline constexpr std::int32_t kDamagedPdf = 1010;
inline constexpr std::int32_t kEncryptedPdf = 1011;
inline constexpr std::int32_t kUnchangeablePdf = 1012;
inline constexpr std::int32_t kDoesNotFit = 1013;

}  // namespace quavelle::docserver::error_number
