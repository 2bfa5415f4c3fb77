// When a stop that shows no progress is due for a thread dump and a warning, or for the end of
// the process. Pure bookkeeping over a millisecond clock that the caller supplies, so that the
// watchdog thread and the tests share the same rules.
#ifndef BRONTEL_RUNTIME_STOP_CLOCK_H
#define BRONTEL_RUNTIME_STOP_CLOCK_H

#include "platform/winapi.h"

// The stopTimeout setting: not configured, 0 (never act), or a number of seconds.
#define BRONTEL_STOP_TIMEOUT_UNSET 0xFFFFFFFFu

enum StopClockAction {
    STOP_CLOCK_IDLE, // no stop under way (or nothing will ever be done): wait for news
    STOP_CLOCK_WAIT, // a stop is under way: wait for news at most *waitMs
    STOP_CLOCK_WARN, // dump the threads and warn, once; the process goes on
    STOP_CLOCK_END,  // dump the threads and end the process
};

class CStopClock {
  public:
    // timeoutSeconds: the stopTimeout setting, or BRONTEL_STOP_TIMEOUT_UNSET.
    explicit CStopClock(DWORD timeoutSeconds);

    // Every status report of the Java side, before and during a stop.
    void status(ULONGLONG now, DWORD state, DWORD checkPoint, DWORD waitHint);
    // A stop or shutdown control reached the Java side. At a shutdown the action falls due
    // before `shutdownAllowanceMs` has passed, whatever the timeout and the hints say.
    void stopRequested(ULONGLONG now, int shutdown, DWORD shutdownAllowanceMs);
    // What is due at `now`; for STOP_CLOCK_WAIT the milliseconds until something may be due.
    StopClockAction due(ULONGLONG now, DWORD* waitMs);
    // The warning has been written: it is not repeated for this stop.
    void warned() { warnedOnce = 1; }

    DWORD getLastState() const { return lastState; }
    DWORD getLastCheckPoint() const { return lastCheckPoint; }
    // The milliseconds without progress after which the action falls due (hint included).
    DWORD getAllowedMs() const;
    // The milliseconds since the last progress (or the stop, when none came after it).
    DWORD getSilentMs(ULONGLONG now) const {
        return now - lastProgress >= INFINITE ? INFINITE - 1
                                              : static_cast<DWORD>(now - lastProgress);
    }

    // Without a configured timeout the warning comes after this long without progress.
    static constexpr DWORD warningAfterMs = 60000;
    // Kept back from a shutdown's allowance for the dump and the last reports.
    static constexpr DWORD shutdownMarginMs = 1000;

  private:
    DWORD timeoutSeconds;
    int stopping;
    int shutdown;
    int warnedOnce;
    int seen;
    ULONGLONG lastProgress;
    ULONGLONG shutdownDeadline;
    DWORD lastState;
    DWORD lastCheckPoint;
    DWORD lastWaitHint;
};

#endif
