#pragma once

// The binding to the 7-Zip engine library, and the reading of the values it
// returns.

#include <cstdint>
#include <string>

#include "platform/DynamicLibrary.h"
#include "zip/engine/SevenZipInterfaces.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

struct SevenZipEngine {
  platform::LibraryHandle library = nullptr;
  // Null unless the library loaded and speaks our interface convention.
  CreateObjectFunction createObject = nullptr;
  VariantClearFunction variantClear = nullptr;
};

// Loads the engine library (it stays loaded for the life of the process) and
// finds its entry points. A library of another interface convention, or one
// without a way to free its values, leaves createObject null, so that nothing
// is ever called through a mismatched table. Reports nothing.
SevenZipEngine loadSevenZipEngine();

// Frees what a value holder owns and leaves it VT_EMPTY.
void clearValue(const SevenZipEngine& engine, PROPVARIANT& value);

// The readers accept exactly the types the engine may use for a property and
// refuse any other (false).
bool readBoolValue(const PROPVARIANT& value, bool& result);
bool readUnsignedValue(const PROPVARIANT& value, std::uint64_t& result);
// VT_BSTR gives its text, VT_EMPTY the empty text.
bool readTextValue(const PROPVARIANT& value, std::u16string& result);

// The engine's wide text as UTF-16. On systems where wchar_t holds UTF-32,
// characters beyond the basic plane become surrogate pairs; a lone
// surrogate passes through unchanged and a value beyond Unicode becomes
// U+FFFD.
std::u16string engineTextToUtf16(const wchar_t* text);

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
