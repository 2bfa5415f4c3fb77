// The VM's exit hook. The VM calls it on its own thread once the shutdown hooks have run and
// every Java thread is stopped, so it must not call into Java; the process ends when it returns.
#include "jvm/vm_options.h"

#include "jvm/host_link.h"

extern "C" void JNICALL brontelExitHook(jint code) {
    // Through the gate: the service may be going away on the main thread at the same time.
    CJvmHostLink* host = enterJvmHost();
    if (host != nullptr) {
        host->reportJavaExit(static_cast<DWORD>(code));
        leaveJvmHost();
    }
}
