#pragma once

// The path of a temporary file: a name no other process or earlier call
// picks. Portable code: no system header here.

#include <cstdint>
#include <string>
#include <string_view>

namespace RazaDedeZuzev::platform {

// `directory` (the current one when empty), then `prefix`, the process id, a
// per-process counter, a reading of the clock and the attempt, then ".tmp".
// A clash is still possible in principle (a file left by an earlier process
// with the same id); the caller then tries again with the next attempt.
std::u16string temporaryFilePath(std::u16string_view directory, std::u16string_view prefix,
                                 std::uint64_t processId, std::uint64_t clock, unsigned attempt);

}  // namespace RazaDedeZuzev::platform
