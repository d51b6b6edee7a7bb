#include "platform/EngineLibrary.h"

#include <unistd.h>

#include <string>

#include "platform/System.h"
#include "platform/Unicode.h"

namespace RazaDedeZuzev::platform {
namespace {

constexpr const char* kEngineFileName = "7z.so";

// Where Debian's p7zip-full and the 7zip package put the library.
constexpr const char* kInstalledEnginePaths[] = {
    "/usr/lib/p7zip/7z.so",
    "/usr/lib/7zip/7z.so",
};

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

LibraryHandle loadEngineLibrary() {
  const std::u16string directory = executableDirectory();
  if (!directory.empty()) {
    const std::string besideExecutable = utf16ToUtf8(directory) + kEngineFileName;
    if (fileExists(besideExecutable)) return loadLibrary(besideExecutable);
  }
  if (LibraryHandle found = loadLibrary(kEngineFileName)) return found;
  for (const char* path : kInstalledEnginePaths) {
    if (LibraryHandle installed = loadLibrary(path)) return installed;
  }
  return nullptr;
}

void* findEngineVariantClear(LibraryHandle engine) { return findSymbol(engine, "VariantClear"); }

}  // namespace RazaDedeZuzev::platform
