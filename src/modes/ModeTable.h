#pragma once

// The program's mode vocabulary: every mode word with the handler that
// performs it and the line that reports its failure. Adding a mode means
// writing its handler (one file in this folder) and adding its row to the
// table in ModeTable.cpp.

#include <string_view>

namespace RazaDedeZuzev {

class InputFile;
class TextWriter;

// A handler runs one mode on a loaded job: it declares its columns, walks
// the records, writes result lines into `output` and diagnostics through the
// Logger. True when the mode succeeded.
using ModeHandler = bool (*)(InputFile& job, TextWriter& output);

struct ModeDescription {
  const char* word;            // matched exactly, case-sensitive
  ModeHandler handler;
  const char* failureMessage;  // written when the handler returns false
  bool readsArchives = false;  // its settings are checked before any work
};

// True when the settings of a mode that reads archives name what the
// system has; otherwise writes why (NUV_RAZADEDEZUZEV_ZIP_CODE_PAGE).
bool checkArchiveSettings();

// The mode of that word, or null.
const ModeDescription* findMode(std::u16string_view word);

}  // namespace RazaDedeZuzev
