#pragma once

// What the zip mode handlers share.

#include <string>

#include "zip/ZipArchive.h"

namespace RazaDedeZuzev {

// Opens the job's archive; on failure completes the archive's message with
// "SetZipFilePath failed: " and the path, and returns false.
bool openArchiveOfJob(ZipArchive& archive, const std::u16string& zipFilePath);

}  // namespace RazaDedeZuzev
