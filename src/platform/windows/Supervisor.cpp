#include "platform/Supervisor.h"

namespace RazaDedeZuzev::platform {

// Windows ends a process whose thread waits for a network file system only
// when that wait ends, as Linux does; a watching process is not built here
// yet, so the run is unwatched (docs/store.md).
int runSupervised(std::uint64_t, const std::function<int()>& work, const std::function<void(std::uint64_t)>&) {
  return work();
}

void noteProgress() {}

}  // namespace RazaDedeZuzev::platform
