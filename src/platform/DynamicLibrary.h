#pragma once

// Libraries loaded at run time. A loaded library stays loaded for the life of
// the process: objects it created may outlive any one user, so there is no
// owner that unloads it.

#include <string_view>

namespace RazaDedeZuzev::platform {

using LibraryHandle = void*;

// Loads the library at `path`; a bare file name lets the system search for
// it. Returns null on failure.
LibraryHandle loadLibrary(std::u16string_view path);

// The address of an exported function, or null.
void* findSymbol(LibraryHandle library, const char* name);

// The file name ending of libraries on this system: ".dll" or ".so".
extern const char16_t* const kLibrarySuffix;

}  // namespace RazaDedeZuzev::platform
