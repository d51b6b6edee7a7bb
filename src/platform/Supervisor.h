#pragma once

// A run that answers its caller even while a file system holds it. A call
// on a network file system whose server stopped answering can wait in the
// kernel for as long as the server is gone, and no signal ends a process
// while one of its threads waits there: a caller that waits for the process
// would wait as long. So the work runs in a worker process, and the process
// the caller started only watches it: when no call of the worker has
// returned for a while, it answers for the worker and leaves it to end as
// soon as the kernel lets it go.

#include <cstdint>
#include <functional>

namespace RazaDedeZuzev::platform {

// Runs `work` and returns its exit code. With `stallSeconds` above 0 (and
// where the system has the means), `work` runs in a worker process; should
// none of its calls return for `stallSeconds`, `onStall` runs (in the
// watching process, with the worker's id) and 2 is returned, the worker
// being killed (it ends when its call returns). A worker ended by a signal
// ends the watching process by the same signal. Without those means, `work`
// runs in this process.
int runSupervised(std::uint64_t stallSeconds, const std::function<int()>& work,
                  const std::function<void(std::uint64_t workerId)>& onStall);

// Tells the watching process that a call returned; cheap (an increment in
// memory shared with it), and nothing without a watching process.
void noteProgress();

}  // namespace RazaDedeZuzev::platform
