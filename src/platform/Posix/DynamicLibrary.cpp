#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace RazaDedeZuzev::platform {

LibraryHandle loadLibrary(const std::string& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* name) {
  return library == nullptr ? nullptr : ::dlsym(library, name);
}

}  // namespace RazaDedeZuzev::platform
