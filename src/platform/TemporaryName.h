#pragma once

// The path of a temporary file: a name no other process or earlier call
// picks, and that tells who writes the file, so that a later run can tell a
// file whose writer is gone from one still being written. Portable code: no
// system header here.

#include <cstdint>
#include <string>
#include <string_view>

namespace RazaDedeZuzev::platform {

// `directory` (the current one when empty), then `prefix`, the writer's
// host (16 hex digits, see File.h's temporaryWriterHost), the process id, a
// per-process counter, a reading of the clock and the attempt, then ".tmp".
// A clash is still possible in principle (a file left by an earlier process
// with the same id); the caller then tries again with the next attempt.
std::u16string temporaryFilePath(std::u16string_view directory, std::u16string_view prefix,
                                 std::string_view host, std::uint64_t processId, std::uint64_t clock,
                                 unsigned attempt);

// Who wrote a temporary file, as its name tells. `host` is empty for the
// names of earlier versions, which held no host.
struct TemporaryWriter {
  std::string host;
  std::uint64_t processId = 0;
};

// Reads the writer from a file name (no directory); false for any name that
// temporaryFilePath did not make with `prefix`.
bool readTemporaryWriter(std::string_view name, std::string_view prefix, TemporaryWriter& writer);

// A temporary file untouched for this long is taken for abandoned when its
// writer ran on another host, whose processes cannot be asked after: no run
// leaves a file of its own idle that long unless its file system stalled
// for as long (docs/store.md, "Temporary files that a run left").
inline constexpr std::uint64_t kAbandonedAfterSeconds = 24 * 60 * 60;

// Whether a temporary file may be removed: its writer ran on this host
// (`ownHost`) and is no longer running, or the file has been idle for
// kAbandonedAfterSeconds.
bool isAbandoned(const TemporaryWriter& writer, std::string_view ownHost, bool writerRunning,
                 std::uint64_t idleSeconds);

// 16 hex digits of a hash of `text`: a host's identity from what tells it
// apart from every other.
std::string hostDigits(std::string_view text);

}  // namespace RazaDedeZuzev::platform
