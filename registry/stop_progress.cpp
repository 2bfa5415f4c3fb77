#include "registry/stop_progress.h"

CStopProgress::CStopProgress()
    : seen(0), lastState(0), lastCheckPoint(0), stalledMs(0), totalMs(0) {}

DWORD CStopProgress::nextWait(const SERVICE_STATUS& status) {
    if (!seen || status.dwCurrentState != lastState || status.dwCheckPoint != lastCheckPoint) {
        seen = 1;
        lastState = status.dwCurrentState;
        lastCheckPoint = status.dwCheckPoint;
        stalledMs = 0;
    }
    DWORD hint = status.dwWaitHint != 0 ? status.dwWaitHint : 1000;
    if (hint > maximumIntervalMs) {
        hint = maximumIntervalMs;
    }
    unsigned long long stallLimit = 3ull * hint;
    if (stallLimit < minimumStallMs) {
        stallLimit = minimumStallMs;
    }
    if (stalledMs >= stallLimit || totalMs >= maximumTotalMs) {
        return 0;
    }
    // The hint bounds the patience, not the polling: a service that is done early is seen
    // within a poll.
    DWORD interval = hint < pollMs ? hint : pollMs;
    stalledMs += interval;
    totalMs += interval;
    return interval;
}
