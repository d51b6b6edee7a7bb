#include "zip/engine/EngineLibrary.h"

#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/System.h"

// Set by the build for the target system: a comma-separated list of UTF-16
// string literals, each followed by a comma, for instance
// u"/usr/lib/p7zip/7z.so",
#ifndef RAZADEDEZUZEV_INSTALLED_ENGINES
#define RAZADEDEZUZEV_INSTALLED_ENGINES
#endif
#ifndef RAZADEDEZUZEV_SYSTEM_VARIANT_LIBRARY
#define RAZADEDEZUZEV_SYSTEM_VARIANT_LIBRARY u""
#endif

namespace RazaDedeZuzev::SevenZipArchiveImpl {
namespace {

constexpr const char16_t* kInstalledEngines[] = {RAZADEDEZUZEV_INSTALLED_ENGINES nullptr};
constexpr std::u16string_view kSystemVariantLibrary = RAZADEDEZUZEV_SYSTEM_VARIANT_LIBRARY;

bool nameExists(const std::u16string& path) {
  platform::FileStatus status;
  return !platform::getNameStatus(path, status) && status.type != platform::FileType::Missing;
}

}  // namespace

platform::LibraryHandle loadEngineLibrary() {
  const std::u16string fileName = std::u16string(u"7z") + platform::kLibrarySuffix;
  const std::u16string directory = platform::executableDirectory();
  if (!directory.empty() && nameExists(directory + fileName)) {
    return platform::loadLibrary(directory + fileName);
  }
  if (platform::LibraryHandle found = platform::loadLibrary(fileName)) return found;
  for (const char16_t* const* path = kInstalledEngines; *path != nullptr; ++path) {
    if (platform::LibraryHandle installed = platform::loadLibrary(*path)) return installed;
  }
  return nullptr;
}

void* findEngineVariantClear(platform::LibraryHandle engine) {
  if (void* own = platform::findSymbol(engine, "VariantClear")) return own;
  if (kSystemVariantLibrary.empty()) return nullptr;
  return platform::findSymbol(platform::loadLibrary(kSystemVariantLibrary), "VariantClear");
}

}  // namespace RazaDedeZuzev::SevenZipArchiveImpl
