#include "copy/TextEncoding.h"

#include "app/Logger.h"
#include "platform/System.h"
#include "platform/Unicode.h"

namespace RazaDedeZuzev {
namespace {

std::string invalidArgumentText() {
  return GetLastErrorMessage(std::make_error_code(std::errc::invalid_argument));
}

}  // namespace

std::u16string toWideString(std::string_view text) {
  if (text.empty()) {
    Logger::GetInstance() << "MultiByteToWideChar failed to get buffer size "
                          << "(" << invalidArgumentText() << ")\n";
    return {};
  }
  return platform::utf8ToUtf16(text);
}

std::string toMultiByteString(std::u16string_view text, std::uint32_t codePage) {
  if (text.empty()) {
    Logger::GetInstance() << "WideCharToMultiByte failed to get buffer size "
                          << "(" << invalidArgumentText() << ")\n";
    return {};
  }
  if (codePage == kCodePageShiftJis) return platform::toCodePage932(text);
  return platform::utf16ToUtf8(text);
}

}  // namespace RazaDedeZuzev
