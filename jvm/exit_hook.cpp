// The VM's exit hook. The VM calls it on its own thread once the shutdown hooks have run and
// every Java thread is stopped, so it must not call into Java; the process ends when it returns.
#include "jvm/vm_options.h"

#include "runtime/service/executor.h"

extern "C" void JNICALL brontelExitHook(jint code) {
    // Through the gate: the executor may be going away on the main thread at the same time.
    CExecutor* executor = enterExecutor();
    if (executor != nullptr) {
        executor->reportJavaExit(static_cast<DWORD>(code));
        leaveExecutor();
    }
}
