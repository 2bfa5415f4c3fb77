// The gate between the VM's threads and the service that hosts the VM.
#include "jvm/host_link.h"

#include <atomic>

namespace {
// Plain atomics of static storage: they stay usable while the C runtime ends the process around
// threads that are still running.
std::atomic<int> gateClosed{1};
std::atomic<int> callsInFlight{0};
std::atomic<CJvmHostLink*> openedHost{nullptr};
} // namespace

void openJvmHostGate(CJvmHostLink* host) {
    openedHost.store(host);
    gateClosed.store(0);
}

void closeJvmHostGate() {
    gateClosed.store(1);
    while (callsInFlight.load() != 0) {
        Sleep(1);
    }
    openedHost.store(nullptr);
}

CJvmHostLink* enterJvmHost() {
    // Counted before the test: closing comes first and counting afterwards, so either the
    // closing side sees this call in flight or this call sees the gate closed.
    callsInFlight.fetch_add(1);
    CJvmHostLink* host = openedHost.load();
    if (gateClosed.load() != 0 || host == nullptr) {
        callsInFlight.fetch_sub(1);
        return nullptr;
    }
    return host;
}

void leaveJvmHost() {
    callsInFlight.fetch_sub(1);
}
