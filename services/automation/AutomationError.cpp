#include "services/automation/AutomationError.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace quavelle {
namespace {

// Objects raise these as bare HRESULTs and leave the wording to the caller's
// runtime; the system has no text for them.
constexpr std::array<std::pair<std::int32_t, const char16_t*>, 27> kScriptingMessages{{
    {5, u"Invalid procedure call or argument"},
    {6, u"Overflow"},
    {7, u"Out of memory"},
    {9, u"Subscript out of range"},
    {11, u"Division by zero"},
    {13, u"Type mismatch"},
    {52, u"Bad file name or number"},
    {53, u"File not found"},
    {54, u"Bad file mode"},
    {55, u"File already open"},
    {57, u"Device I/O error"},
    {58, u"File already exists"},
    {61, u"Disk full"},
    {62, u"Input past end of file"},
    {67, u"Too many files"},
    {68, u"Device unavailable"},
    {70, u"Permission denied"},
    {71, u"Disk not ready"},
    {74, u"Can't rename with different drive"},
    {75, u"Path/File access error"},
    {76, u"Path not found"},
    {91, u"Object variable or With block variable not set"},
    {424, u"Object required"},
    {429, u"Can't create object"},
    {438, u"Object doesn't support this property or method"},
    {449, u"Argument not optional"},
    {450, u"Wrong number of arguments or invalid property assignment"},
}};

std::u16string FromSystem(std::int32_t hresult) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hresult), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (buffer != nullptr) {
    text.assign(buffer, buffer + length);
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::int32_t ErrorNumberFor(std::int32_t hresult) noexcept {
  const auto code = static_cast<HRESULT>(hresult);
  if (FAILED(code) && HRESULT_FACILITY(code) == FACILITY_CONTROL) return HRESULT_CODE(code);
  return hresult;
}

std::u16string SystemMessage(std::int32_t hresult) {
  const std::int32_t number = ErrorNumberFor(hresult);
  if (number != hresult) {
    const auto* known = std::ranges::find(kScriptingMessages, number,
                                          &std::pair<std::int32_t, const char16_t*>::first);
    if (known != kScriptingMessages.end()) return known->second;
  }
  std::u16string text = FromSystem(hresult);
  if (text.empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(hresult) & 0xFFFFFFFFUL);
    text = u"Automation error 0x";
    for (const char* p = hex; *p != '\0'; ++p) text += static_cast<char16_t>(*p);
  }
  return text;
}

}  // namespace quavelle
