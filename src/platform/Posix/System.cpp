#include "platform/System.h"

#include <iconv.h>
#include <limits.h>
#include <locale.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Unicode.h"

namespace RazaDedeZuzev::platform {

std::error_code lastSystemError() { return {errno, std::generic_category()}; }

std::string systemErrorText(const std::error_code& error) {
  // The C locale's texts are the English ones, whatever the user's locale.
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const char* text = cLocale != static_cast<locale_t>(0) ? ::strerror_l(error.value(), cLocale)
                                                         : ::strerror(error.value());
  if (text == nullptr || *text == '\0') return {};
  return std::string(text) + "\n";
}

void suppressErrorDialogs() {}  // POSIX shows no error dialogs

void sleepMilliseconds(std::uint64_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>((milliseconds % 1000) * 1000000)};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

std::optional<std::string> getEnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string toCodePage932(std::u16string_view text) {
  // Convert character by character, so that one that Shift_JIS lacks becomes
  // '?' and the rest of the text still comes through.
  std::string out;
  iconv_t converter = ::iconv_open("CP932", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return utf16ToUtf8(text);
  std::size_t i = 0;
  while (i < text.size()) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    const std::size_t units = pair ? 2 : 1;
    std::string utf8 = utf16ToUtf8(text.substr(i, units));
    i += units;
    char buffer[16];
    char* input = utf8.data();
    std::size_t inputLeft = utf8.size();
    char* output = buffer;
    std::size_t outputLeft = sizeof buffer;
    if (::iconv(converter, &input, &inputLeft, &output, &outputLeft) == static_cast<std::size_t>(-1)) {
      out.push_back('?');
      ::iconv(converter, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    } else {
      out.append(buffer, static_cast<std::size_t>(output - buffer));
    }
  }
  ::iconv_close(converter);
  return out;
}

std::u16string executableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return utf8ToUtf16(path.substr(0, slash + 1));
}

}  // namespace RazaDedeZuzev::platform
