// When a service that was asked to stop is polled again, and when waiting for it is pointless.
#ifndef BRONTEL_REGISTRY_STOP_PROGRESS_H
#define BRONTEL_REGISTRY_STOP_PROGRESS_H

#include "registry/service_names.h"

class CStopProgress {
  public:
    CStopProgress();

    // The milliseconds to wait before the next status query, given the latest status: pollMs, or
    // its wait hint when that is shorter. 0 when the service has shown no progress (no new
    // state, no new checkpoint) for three of its wait hints and at least ten seconds, or has been
    // waited for half an hour in all: then it is not going to stop by itself.
    DWORD nextWait(const SERVICE_STATUS& status);
    DWORD getStalledMs() const { return stalledMs; }

    static constexpr DWORD minimumStallMs = 10000;
    static constexpr DWORD maximumTotalMs = 30 * 60 * 1000;
    // A hint counts for at most this, whatever the service gives (a hint of 0 counts a second).
    static constexpr DWORD maximumIntervalMs = 10 * 60 * 1000;
    static constexpr DWORD pollMs = 250;

  private:
    int seen;
    DWORD lastState;
    DWORD lastCheckPoint;
    DWORD stalledMs;
    DWORD totalMs;
};

#endif
