#include "platform/Text.h"

#include <climits>

#include "platform/windows/Win32.h"

namespace RazaDedeZuzev::platform {
namespace {

using windows::lastError;

// The converters take 32-bit signed lengths.
bool fitsConverter(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX); }

// The program's UTF-16 units are the system's wide characters; the
// converters read and write the strings' storage directly (a hot path: every
// cell of a job and every entry of a listing passes here).
static_assert(sizeof(wchar_t) == sizeof(char16_t));
const wchar_t* asWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* asWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

ConversionError failedAt(ConversionError::Step step, const std::error_code& error) {
  return {step, error};
}

}  // namespace

ConversionError appendUtf8AsWide(std::string_view bytes, std::u16string& out) {
  if (!fitsConverter(bytes.size())) {
    return failedAt(ConversionError::Step::SizeQuery, windows::win32Error(ERROR_INVALID_PARAMETER));
  }
  const int length = static_cast<int>(bytes.size());
  // A zero length is refused here by the converter itself, with its own error.
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
  if (needed == 0) return failedAt(ConversionError::Step::SizeQuery, lastError());
  const std::size_t oldSize = out.size();
  out.resize(oldSize + static_cast<std::size_t>(needed));
  if (::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, asWide(out.data() + oldSize),
                            needed) == 0) {
    const std::error_code error = lastError();
    out.resize(oldSize);
    return failedAt(ConversionError::Step::Conversion, error);
  }
  return {};
}

ConversionError appendWideAsCodePage(std::u16string_view text, std::uint32_t codePage,
                                     std::string& out) {
  if (!fitsConverter(text.size())) {
    return failedAt(ConversionError::Step::SizeQuery, windows::win32Error(ERROR_INVALID_PARAMETER));
  }
  const wchar_t* wide = asWide(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed == 0) return failedAt(ConversionError::Step::SizeQuery, lastError());
  const std::size_t oldSize = out.size();
  out.resize(oldSize + static_cast<std::size_t>(needed));
  if (::WideCharToMultiByte(codePage, 0, wide, length, out.data() + oldSize, needed, nullptr,
                            nullptr) == 0) {
    const std::error_code error = lastError();
    out.resize(oldSize);
    return failedAt(ConversionError::Step::Conversion, error);
  }
  return {};
}

struct CodePageDecoder::State {
  UINT codePage = 0;
};

CodePageDecoder::CodePageDecoder(std::uint32_t codePage) : state(std::make_unique<State>()) {
  state->codePage = codePage;
}

CodePageDecoder::~CodePageDecoder() = default;

bool CodePageDecoder::IsKnown() const { return ::IsValidCodePage(state->codePage) != 0; }

bool CodePageDecoder::Decode(std::string_view bytes, std::string& utf8) {
  utf8.clear();
  if (bytes.empty()) return true;
  if (!IsKnown() || !fitsConverter(bytes.size())) return false;
  const int length = static_cast<int>(bytes.size());
  // Refusing what the code page does not define, instead of putting its
  // default character there.
  const int needed = ::MultiByteToWideChar(state->codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (needed == 0) return false;
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  if (::MultiByteToWideChar(state->codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), needed) == 0) {
    return false;
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), needed, nullptr, 0, nullptr, nullptr);
  if (size == 0) return false;
  utf8.resize(static_cast<std::size_t>(size));
  return ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), needed, utf8.data(), size, nullptr, nullptr) != 0;
}

std::uint32_t defaultLegacyCodePage() { return ::GetOEMCP(); }

}  // namespace RazaDedeZuzev::platform
