#include "zip/ZipModes.h"

#include "app/Logger.h"
#include "copy/TextEncoding.h"

namespace RazaDedeZuzev {

bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath) {
  if (archive.SetZipFilePath(zipFilePath)) return true;
  // The path is converted after the prefix is written, so that a conversion
  // failure's own message follows it on the same line.
  Logger::GetInstance() << "SetZipFilePath failed: "
                        << toMultiByteString(zipFilePath, kCodePageUtf8) << "\n";
  return false;
}

}  // namespace RazaDedeZuzev
