#include "base/TextEncoding.h"

#include "base/Logger.h"

namespace RazaDedeZuzev {
namespace {

using Step = platform::ConversionError::Step;

void report(const platform::ConversionError& error, const char* converter) {
  Logger& logger = Logger::GetInstance();
  if (error.step == Step::SizeQuery) {
    logger << converter << " failed to get buffer size (" << GetLastErrorMessage(error.error)
           << ")\n";
  } else {
    logger << converter << " failed to convert string\n";
  }
}

}  // namespace

bool appendWideString(std::string_view text, std::u16string& out) {
  const platform::ConversionError error = platform::appendUtf8AsWide(text, out);
  if (error) report(error, "MultiByteToWideChar");
  return !error;
}

std::u16string toWideString(std::string_view text) {
  std::u16string wide;
  if (!appendWideString(text, wide)) wide.clear();
  return wide;
}

std::string toMultiByteString(std::u16string_view text, std::uint32_t codePage) {
  std::string bytes;
  const platform::ConversionError error = platform::appendWideAsCodePage(text, codePage, bytes);
  if (!error) return bytes;
  report(error, "WideCharToMultiByte");
  return {};
}

std::string asUtf8(std::u16string_view text) {
  std::string bytes;
  if (platform::appendWideAsCodePage(text, kCodePageUtf8, bytes)) bytes.clear();
  return bytes;
}

}  // namespace RazaDedeZuzev
