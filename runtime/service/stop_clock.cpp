// The rules of the stop watchdog: what counts as progress and when a silent stop is acted on.
#include "runtime/service/stop_clock.h"

CStopClock::CStopClock(DWORD timeoutSeconds)
    : timeoutSeconds(timeoutSeconds), stopping(0), shutdown(0), warnedOnce(0), seen(0),
      lastProgress(0), shutdownDeadline(0), lastState(0), lastCheckPoint(0), lastWaitHint(0) {}

void CStopClock::status(ULONGLONG now, DWORD state, DWORD checkPoint, DWORD waitHint) {
    // A new state, or a higher checkpoint in the same state, is progress; a repeated report
    // is not, or a service could hold the stop open forever by repeating itself.
    int progress = !seen || state != lastState || checkPoint > lastCheckPoint;
    seen = 1;
    lastState = state;
    lastCheckPoint = checkPoint;
    lastWaitHint = waitHint;
    if (progress) {
        lastProgress = now;
    }
    if (state == SERVICE_RUNNING && stopping) {
        // Java declined the stop and runs on: nothing stalls, and a later stop is timed anew.
        stopping = 0;
        shutdown = 0;
        warnedOnce = 0;
    }
}

void CStopClock::stopRequested(ULONGLONG now, int isShutdown, DWORD shutdownAllowanceMs) {
    if (!stopping) {
        stopping = 1;
        lastProgress = now;
    }
    if (isShutdown && !shutdown) {
        shutdown = 1;
        DWORD room = shutdownAllowanceMs > 2 * shutdownMarginMs
                         ? shutdownAllowanceMs - shutdownMarginMs
                         : shutdownAllowanceMs / 2;
        shutdownDeadline = now + room;
    }
}

DWORD CStopClock::getAllowedMs() const {
    DWORD base = timeoutSeconds == BRONTEL_STOP_TIMEOUT_UNSET ? warningAfterMs
                 : timeoutSeconds > 0xFFFFFFFFu / 1000        ? 0xFFFFFFFEu
                                                              : timeoutSeconds * 1000;
    // Java asked for this much time itself; it is never cut shorter.
    return lastWaitHint > base ? lastWaitHint : base;
}

StopClockAction CStopClock::due(ULONGLONG now, DWORD* waitMs) {
    *waitMs = INFINITE;
    int ends = timeoutSeconds != BRONTEL_STOP_TIMEOUT_UNSET;
    if (!stopping || timeoutSeconds == 0 || (!ends && warnedOnce)) {
        return STOP_CLOCK_IDLE;
    }
    ULONGLONG deadline = lastProgress + getAllowedMs();
    if (shutdown && shutdownDeadline < deadline) {
        deadline = shutdownDeadline;
    }
    if (now >= deadline) {
        return ends ? STOP_CLOCK_END : STOP_CLOCK_WARN;
    }
    ULONGLONG left = deadline - now;
    *waitMs = left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
    return STOP_CLOCK_WAIT;
}
