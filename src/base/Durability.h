#pragma once

// Whether the program makes every file it writes durable (synced to the
// disk) before it names or reports it. On by default; callers whose storage
// needs no syncing (a scratch file system, say) switch it off with
// NUV_RAZADEDEZUZEV_SYNC=0. Read once per process.
namespace RazaDedeZuzev {

bool durableWritesWanted();

}  // namespace RazaDedeZuzev
