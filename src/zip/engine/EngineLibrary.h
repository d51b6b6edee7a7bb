#pragma once

// Finding the 7-Zip engine library, which the zip modes load at run time.

#include "platform/DynamicLibrary.h"

namespace RazaDedeZuzev::SevenZipArchiveImpl {

// Loads the engine: "7z.dll" or "7z.so" in the executable's directory; when
// there is none there, the system's own search (on POSIX the dynamic
// loader's: LD_LIBRARY_PATH, ...); then the places where this system's
// distributions install it (set when the program is built). A library found
// in the executable's directory is the one used, even when it fails to load:
// whoever put it there meant it. Null when no candidate loads.
platform::LibraryHandle loadEngineLibrary();

// The function that frees the values the engine returns (VariantClear): the
// engine's own export where it has one (its strings come from its own
// allocator); otherwise the system's OLE automation library, whose allocator
// the engine then uses. Null when neither is there.
void* findEngineVariantClear(platform::LibraryHandle engine);

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
