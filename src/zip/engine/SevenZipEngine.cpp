#include "zip/engine/SevenZipEngine.h"

#include <cstring>

#include "zip/engine/EngineLibrary.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {
namespace {

// The interface convention that our tables follow: IUnknown without a
// virtual destructor. Engines before 7-Zip 23 (and old p7zip builds) put one
// into IUnknown on POSIX, which shifts every method by one slot; they either
// lack GetModuleProp or report another convention.
constexpr std::uint64_t kConventionWithoutVirtualDestructor = 0;

template <typename Function>
Function symbolAs(platform::LibraryHandle library, const char* name) {
  return reinterpret_cast<Function>(platform::findSymbol(library, name));
}

bool speaksOurConvention(const SevenZipEngine& engine) {
  const auto getModuleProp = symbolAs<GetModulePropFunction>(engine.library, "GetModuleProp");
  if (getModuleProp == nullptr) return false;
  PROPVARIANT value{};
  const HRESULT result = getModuleProp(kModulePropInterfaceType, &value);
  std::uint64_t convention = 0;
  const bool known = result == S_OK && readUnsignedValue(value, convention);
  clearValue(engine, value);
  return known && convention == kConventionWithoutVirtualDestructor;
}

}  // namespace

SevenZipEngine loadSevenZipEngine() {
  SevenZipEngine engine;
  engine.library = loadEngineLibrary();
  if (engine.library == nullptr) return engine;
  engine.variantClear = reinterpret_cast<VariantClearFunction>(
      findEngineVariantClear(engine.library));
  if (engine.variantClear == nullptr || !speaksOurConvention(engine)) return engine;
  engine.createObject = symbolAs<CreateObjectFunction>(engine.library, "CreateObject");
  return engine;
}

void clearValue(const SevenZipEngine& engine, PROPVARIANT& value) {
  if (value.vt != VT_EMPTY && engine.variantClear != nullptr) engine.variantClear(&value);
  std::memset(&value, 0, sizeof value);
}

bool readBoolValue(const PROPVARIANT& value, bool& result) {
  if (value.vt != VT_BOOL) return false;
  result = value.boolVal != 0;
  return true;
}

bool readUnsignedValue(const PROPVARIANT& value, std::uint64_t& result) {
  switch (value.vt) {
    case VT_UI1:
      result = value.bVal;
      return true;
    case VT_UI2:
      result = value.uiVal;
      return true;
    case VT_UI4:
      result = value.ulVal;
      return true;
    case VT_UI8:
      result = value.uhVal;
      return true;
    default:
      return false;
  }
}

bool readTextValue(const PROPVARIANT& value, std::u16string& result) {
  if (value.vt == VT_EMPTY) {
    result.clear();
    return true;
  }
  if (value.vt != VT_BSTR) return false;
  result = engineTextToUtf16(value.bstrVal);
  return true;
}

std::u16string engineTextToUtf16(const wchar_t* text) {
  std::u16string result;
  if (text == nullptr) return result;
  for (; *text != L'\0'; ++text) {
    const auto code = static_cast<std::uint32_t>(*text);
    if (code <= 0xFFFF) {
      result.push_back(static_cast<char16_t>(code));
    } else if (code <= 0x10FFFF) {
      const std::uint32_t offset = code - 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      result.push_back(u'\uFFFD');
    }
  }
  return result;
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
