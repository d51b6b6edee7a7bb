#pragma once

// Libraries loaded at run time. A loaded library stays loaded for the life of
// the process: objects it created may outlive any one user.

#include <string>

namespace RazaDedeZuzev::platform {

using LibraryHandle = void*;

// Loads the library at `path` (a file name lets the system search for it).
// Returns null on failure.
LibraryHandle loadLibrary(const std::string& path);

// The address of an exported function, or null.
void* findSymbol(LibraryHandle library, const char* name);

}  // namespace RazaDedeZuzev::platform
