#pragma once

// Conversions between the UTF-8 text of job files, output and messages and
// the UTF-16 text of paths, with the system converters' messages on failure.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace RazaDedeZuzev {

using platform::kCodePageShiftJis;
using platform::kCodePageUtf8;

// UTF-8 to UTF-16. Empty text is refused with a message, as the system's
// converter refuses a zero length; the result is then empty.
std::u16string toWideString(std::string_view text);

// The same, appended to `out` (whose storage a hot loop reuses). False after
// the message.
bool appendWideString(std::string_view text, std::u16string& out);

// UTF-16 to the code page (65001 or 932). Empty text is refused with a
// message, like toWideString.
std::string toMultiByteString(std::u16string_view text, std::uint32_t codePage);

// toMultiByteString with code page 65001: how paths and uuids are written.
inline std::string toUtf8(std::u16string_view text) { return toMultiByteString(text, kCodePageUtf8); }

// UTF-8 for the program's own messages, which name values that may be
// empty: nothing is reported, empty text stays empty.
std::string asUtf8(std::u16string_view text);

}  // namespace RazaDedeZuzev
