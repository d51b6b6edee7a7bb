#pragma once

// Process-wide services: the command line, error texts, the environment,
// sleeping, the executable's place and the processors.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace RazaDedeZuzev::platform {

// The system's English text for an error, ending with a line break as the
// system texts of Windows do. Empty when the system has no text for it.
std::string systemErrorText(const std::error_code& error);

// Sets the process up for unattended batch work: the system never stops it
// with a dialog box.
void prepareProcess();

// Keeps the heap compact while threads copy many files at once: large
// blocks (the engine's buffers) are mapped and unmapped instead of being
// kept in the heap, and all threads share one heap. Called before the
// copying threads start. Not for a single thread that takes and frees the
// same large block over and over: there it costs a fresh mapping, and page
// faults in every read, for each block.
void keepHeapCompactForCopyingThreads();

// The arguments as the process received them, the program name first, each
// in the program's own string type, so that any character survives: on
// Windows the wide command line, on POSIX the bytes of `argv` (carried
// losslessly, see Utf.h).
std::vector<std::u16string> commandLineArguments(int argc, char** argv);

void sleepMilliseconds(std::uint64_t milliseconds);

// The variable's value as UTF-8, or nothing when it is not set.
std::optional<std::string> getEnvironmentVariable(const char* name);

// Directory that holds the running executable, with a trailing separator;
// empty when it cannot be found.
std::u16string executableDirectory();

// How many processors the process may run on; at least 1.
unsigned processorCount();

}  // namespace RazaDedeZuzev::platform
