#pragma once

// The program joins its worker threads before it ends, while the libraries
// those threads used can still free what each thread holds (OpenSSL: each
// thread's error queue); the targets that run the program do the same.

#include <cstdlib>

#include "platform/Md5.h"
#include "platform/WorkerPool.h"

namespace fuzzing {

inline void joinWorkersAtExit() {
  // OpenSSL registers its own clean-up at exit when it starts: started
  // first, it runs after the join (exit handlers run last first).
  RazaDedeZuzev::platform::Md5 md5;
  RazaDedeZuzev::platform::DigestError ignored;
  md5.Start(ignored);
  std::atexit([] { RazaDedeZuzev::platform::WorkerPool::Get().Shutdown(); });
}

}  // namespace fuzzing
