#pragma once

// The handlers of the modes, one file each in this folder; the table that
// maps mode words to them is ModeTable.cpp. Each returns true when its mode
// succeeded and writes its own diagnostics; the front end adds the mode's
// failure line.

namespace RazaDedeZuzev {

class InputFile;
class TextWriter;

// batch_copy_to_resource_store and ..._from_multiple_directories.
bool ExecuteBatchCopyToResourceStore(InputFile& job, TextWriter& output,
                                     bool fromMultipleDirectories);
bool TestFileExistence(InputFile& job, TextWriter& output);
bool ExecuteBatchCopyFromResourceStore(InputFile& job);
bool ExecuteExtractFromZip(InputFile& job, TextWriter& output);
bool ExecuteExtractFromZipToResourceStore(InputFile& job, TextWriter& output);
// list_zip_entry and list_zip_entry_with_first_block.
bool ExecuteListZipEntry(InputFile& job, TextWriter& output, bool withFirstBlock);
bool ExecuteListFiles(InputFile& job, TextWriter& output);

}  // namespace RazaDedeZuzev
