// The stop watchdog: a thread that watches a stop (or shutdown) handed to Java and, when Java
// shows no progress for too long, has the executor dump the Java threads and warn, or end the
// process, as the service's stopTimeout says.
#ifndef BRONTEL_RUNTIME_STOP_WATCHDOG_H
#define BRONTEL_RUNTIME_STOP_WATCHDOG_H

#include "platform/handles.h"
#include "runtime/service/stop_clock.h"
#include "trace/logger.h"

class CExecutor;

class CStopWatchdog {
  public:
    CStopWatchdog(CExecutor* executor, DWORD timeoutSeconds, DWORD shutdownAllowanceMs);
    ~CStopWatchdog();
    CStopWatchdog(const CStopWatchdog&) = delete;
    CStopWatchdog& operator=(const CStopWatchdog&) = delete;

    // Starts the thread; 0 when it could not be created (the stop is then not watched).
    int start();
    // Ends the thread and waits for it; the calls below are harmless afterwards.
    void finish();
    void onControl(DWORD control);
    void onStatus(DWORD state, DWORD checkPoint, DWORD waitHint);

  private:
    static DWORD WINAPI threadRoutine(LPVOID watchdog);
    void run();

    CExecutor* executor;
    CStopClock clock;
    DWORD shutdownAllowanceMs;
    CWinHandle lock;   // guards clock and quit
    CWinHandle wake;   // set on news; manual reset, cleared by the thread under the lock
    CWinHandle thread; // null until started
    int quit;
};

#endif
