#pragma once

// The program joins its worker threads before it ends, so that nothing a
// thread holds is left to be reported as leaked at exit; the targets that run
// the program do the same.

#include <cstdlib>

#include "platform/WorkerPool.h"

namespace fuzzing {

inline void joinWorkersAtExit() {
  std::atexit([] { RazaDedeZuzev::platform::WorkerPool::Get().Shutdown(); });
}

}  // namespace fuzzing
