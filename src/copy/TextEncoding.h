#pragma once

// Conversions between the UTF-8 text of job files, output and messages and
// the UTF-16 text of paths.

#include <cstdint>
#include <string>
#include <string_view>

namespace RazaDedeZuzev {

inline constexpr std::uint32_t kCodePageUtf8 = 65001;
inline constexpr std::uint32_t kCodePageShiftJis = 932;

// UTF-8 to UTF-16, lossless. Empty text is refused with a message, as the
// system's converter refuses a zero length; the result is then empty.
std::u16string toWideString(std::string_view text);

// UTF-16 to the code page (65001 or 932). Empty text is refused with a
// message, like toWideString.
std::string toMultiByteString(std::u16string_view text, std::uint32_t codePage);

}  // namespace RazaDedeZuzev
