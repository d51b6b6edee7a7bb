#pragma once

// The handler of every mode. Each returns true when its mode succeeded and
// writes its own diagnostics; Run adds the mode's failure line.

#include <cstdio>

namespace RazaDedeZuzev {

class InputFile;

bool ExecuteBatchCopyToResourceStore(InputFile& job, std::FILE* output,
                                     bool fromMultipleDirectories);
bool TestFileExistence(InputFile& job, std::FILE* output);
bool ExecuteBatchCopyFromResourceStore(InputFile& job);
bool ExecuteExtractFromZip(InputFile& job, std::FILE* output);
bool ExecuteExtractFromZipToResourceStore(InputFile& job, std::FILE* output);
bool ExecuteListZipEntry(InputFile& job, std::FILE* output, bool withFirstBlock);
bool ExecuteListFiles(InputFile& job, std::FILE* output);

}  // namespace RazaDedeZuzev
