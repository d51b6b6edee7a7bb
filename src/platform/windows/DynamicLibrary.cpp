#include "platform/DynamicLibrary.h"

#include "platform/windows/Win32.h"

namespace RazaDedeZuzev::platform {

const char16_t* const kLibrarySuffix = u".dll";

LibraryHandle loadLibrary(std::u16string_view path) {
  // The loader takes `\` only; a bare name is searched for by the system.
  return ::LoadLibraryW(windows::nativePath(path).c_str());
}

void* findSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace RazaDedeZuzev::platform
