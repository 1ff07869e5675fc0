#include "services/automation/AutomationError.h"

#include <windows.h>

#include <cstdio>

namespace quavelle {

std::int32_t ErrorNumberFor(std::int32_t hresult) noexcept {
  const auto code = static_cast<HRESULT>(hresult);
  if (FAILED(code) && HRESULT_FACILITY(code) == FACILITY_CONTROL) return HRESULT_CODE(code);
  return hresult;
}

std::u16string SystemMessage(std::int32_t hresult) {
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
  if (text.empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(hresult) & 0xFFFFFFFFUL);
    text = u"Automation error 0x";
    for (const char* p = hex; *p != '\0'; ++p) text += static_cast<char16_t>(*p);
  }
  return text;
}

}  // namespace quavelle
