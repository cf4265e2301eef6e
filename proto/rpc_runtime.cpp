#include "rpc_runtime.h"

#include <absl/synchronization/mutex.h>

#include <mutex>

namespace qfx::rpc {

void prepareRuntime() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Debian's abseil keeps its debugging checks: every lock of gRPC's
    // mutexes records the order of locks in a process-wide graph, to report
    // deadlocks. That is a developer's aid, and a few percent of the CPU of
    // every call on both ends.
    absl::SetMutexDeadlockDetectionMode(absl::OnDeadlockCycle::kIgnore);
  });
}

}  // namespace qfx::rpc
