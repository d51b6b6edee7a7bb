#include "platform/EngineLibrary.h"

#include <windows.h>

namespace RazaDedeZuzev::platform {

LibraryHandle loadEngineLibrary() { return ::LoadLibraryA("7z.dll"); }

void* findEngineVariantClear(LibraryHandle engine) {
  if (void* own = findSymbol(engine, "VariantClear")) return own;
  // 7z.dll allocates its strings with the system's allocator, so the
  // system's VariantClear frees them.
  HMODULE automation = ::LoadLibraryA("oleaut32.dll");
  if (automation == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(automation, "VariantClear"));
}

}  // namespace RazaDedeZuzev::platform
