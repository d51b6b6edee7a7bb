#pragma once

// Conversions between the UTF-8 byte strings of job files and listings and the
// UTF-16 strings that the program uses for every path. Both directions are
// lossless: a byte that is not part of well-formed UTF-8 travels as a lone
// surrogate U+DC80..U+DCFF and comes back out as the same byte, so any file
// name a directory or a job file holds survives the round trip.
//
// Portable code: no operating-system header is needed here.

#include <string>
#include <string_view>

namespace RazaDedeZuzev::platform {

std::u16string utf8ToUtf16(std::string_view bytes);
std::string utf16ToUtf8(std::u16string_view text);

// Whether bytes are well-formed UTF-8: shortest forms only, no surrogates,
// nothing past U+10FFFF. The one check of the program: what it accepts is
// exactly what the conversions above carry as characters.
bool isValidUtf8(std::string_view bytes);

// Appends the conversions to an existing string (used on hot paths).
void appendUtf8AsUtf16(std::string_view bytes, std::u16string& out);
void appendUtf16AsUtf8(std::u16string_view text, std::string& out);

}  // namespace RazaDedeZuzev::platform
