#pragma once

// Process-wide services: error texts, the environment, sleeping, code pages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace RazaDedeZuzev::platform {

// The calling thread's last system error, read right after a failing call.
std::error_code lastSystemError();

// The system's English text for an error, ending with a line break as the
// system texts of Windows do. Empty when the system has no text for it.
std::string systemErrorText(const std::error_code& error);

// Keeps the system from stopping an unattended process with a dialog box.
void suppressErrorDialogs();

void sleepMilliseconds(std::uint64_t milliseconds);

std::optional<std::string> getEnvironmentVariable(const char* name);

// Converts to code page 932 (Shift_JIS); characters it cannot hold become '?'.
std::string toCodePage932(std::u16string_view text);

// Directory that holds the running executable, with a trailing separator;
// empty when it cannot be found.
std::u16string executableDirectory();

}  // namespace RazaDedeZuzev::platform
