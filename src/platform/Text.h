#pragma once

// Conversions between the system's code pages and the program's UTF-16
// text, as the system's own converters make them.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace RazaDedeZuzev::platform {

inline constexpr std::uint32_t kCodePageUtf8 = 65001;
inline constexpr std::uint32_t kCodePageShiftJis = 932;

// Where a conversion failed: the system's converters first measure the
// result, then convert, and either step may refuse.
struct ConversionError {
  enum class Step { None, SizeQuery, Conversion } step = Step::None;
  std::error_code error;
  explicit operator bool() const { return step != Step::None; }
};

// Appends the UTF-16 form of UTF-8 bytes to `out`. Empty text is refused at
// the size query, as the system's converter refuses a zero length. On POSIX
// the conversion is lossless: bytes that are not UTF-8 travel as lone
// surrogates (Utf.h).
ConversionError appendUtf8AsWide(std::string_view bytes, std::u16string& out);

// Appends `text` in the code page (65001 or 932) to `out`. Empty text is
// refused at the size query. A character that the code page cannot hold
// becomes the code page's default character.
ConversionError appendWideAsCodePage(std::u16string_view text, std::uint32_t codePage,
                                     std::string& out);

// Reads text in a legacy code page (437, 850, 932, 1252, ...) with the
// system's own converter: iconv on POSIX, MultiByteToWideChar on Windows.
class CodePageDecoder {
 public:
  explicit CodePageDecoder(std::uint32_t codePage);
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;
  ~CodePageDecoder();

  // False when the system knows no such code page.
  bool IsKnown() const;
  // Sets `utf8` to the UTF-8 form of `bytes`; false when they are not text
  // in the code page (a byte or a sequence it does not define).
  bool Decode(std::string_view bytes, std::string& utf8);

 private:
  struct State;
  std::unique_ptr<State> state;
};

// The code page of text that carries no mark of its own: on POSIX the zip
// format's own, 437; on Windows the system's OEM code page.
std::uint32_t defaultLegacyCodePage();

}  // namespace RazaDedeZuzev::platform
