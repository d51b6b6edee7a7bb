#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include "platform/posix/NativePath.h"

namespace RazaDedeZuzev::platform {

const char16_t* const kLibrarySuffix = u".so";

LibraryHandle loadLibrary(std::u16string_view path) {
  return ::dlopen(posix::toNativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* name) {
  return library == nullptr ? nullptr : ::dlsym(library, name);
}

}  // namespace RazaDedeZuzev::platform
