#pragma once

// Finding the 7-Zip engine library, which the zip modes load at run time.

#include "platform/DynamicLibrary.h"

namespace RazaDedeZuzev::platform {

// Loads the engine from where this system keeps it. On Windows that is
// "7z.dll" by the system's own search, the executable's directory first. On
// POSIX: "7z.so" in the executable's directory; when there is none, the
// dynamic loader's own search (LD_LIBRARY_PATH, ...); then the places the
// distributions install it. A library found in the executable's directory is
// the one used, even when it fails to load: whoever put it there meant it.
// Null when no candidate loads.
LibraryHandle loadEngineLibrary();

// The function that frees the values the engine returns (VariantClear): the
// engine's own export where it has one (its strings come from its own
// allocator), the system's otherwise. Null when neither is there.
void* findEngineVariantClear(LibraryHandle engine);

}  // namespace RazaDedeZuzev::platform
