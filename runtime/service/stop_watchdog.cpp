// The stop watchdog's thread, and what the executor does when a stop stalls: the Java threads'
// dump, the warning or the report that the service did not stop in time, and the end of the
// process.
#include "runtime/service/stop_watchdog.h"

#include "jvm/jvm.h"
#include "registry/registry.h"
#include "registry/service_names.h"
#include "runtime/service/executor.h"
#include "settings/value_check.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

// How long Windows lets services take at a system shutdown, when the registry does not say.
const DWORD defaultShutdownAllowanceMs = 5000;
// How long the VM may take to write its dump before the process is ended anyway.
const DWORD dumpWaitMs = 10000;

DWORD shutdownAllowance() {
    wchar_t text[32] = {0};
    if (getRegStrValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control", nullptr,
                       L"WaitToKillServiceTimeout", text, sizeof(text)) == nullptr) {
        return defaultShutdownAllowanceMs;
    }
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text, &end, 10);
    return end != text && value > 0 && value < 0xFFFFFFFFul ? static_cast<DWORD>(value)
                                                            : defaultShutdownAllowanceMs;
}

// The stopTimeout setting in seconds, or BRONTEL_STOP_TIMEOUT_UNSET. Installation refuses a
// malformed value; one written into the registry by hand is reported and ignored.
DWORD configuredStopTimeout(const CServiceSettings& settings, CLogger* logger) {
    const wchar_t* text = settings.text(CFG_STOP_TIMEOUT);
    if (text == nullptr) {
        return BRONTEL_STOP_TIMEOUT_UNSET;
    }
    DWORD seconds = 0;
    if (!parseConfigNumber(*findConfigKey(CFG_STOP_TIMEOUT), text, &seconds)) {
        logger->logMessage(L"Ignoring the stored stopTimeout, which is not a number of seconds: ",
                           text);
        seconds = BRONTEL_STOP_TIMEOUT_UNSET;
    }
    return seconds;
}

} // namespace

CStopWatchdog::CStopWatchdog(CExecutor* executor, DWORD timeoutSeconds, DWORD shutdownAllowanceMs)
    : executor(executor), clock(timeoutSeconds), shutdownAllowanceMs(shutdownAllowanceMs),
      lock(CreateMutexW(nullptr, FALSE, nullptr)),
      wake(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread(), quit(0) {}

CStopWatchdog::~CStopWatchdog() {
    finish();
}

int CStopWatchdog::start() {
    if (!lock.isOpen() || !wake.isOpen()) {
        return 0;
    }
    thread.reset(CreateThread(nullptr, 0, threadRoutine, this, 0, nullptr));
    return thread.isOpen();
}

void CStopWatchdog::finish() {
    if (!thread.isOpen()) {
        return;
    }
    WaitForSingleObject(lock.get(), INFINITE);
    quit = 1;
    SetEvent(wake.get());
    ReleaseMutex(lock.get());
    WaitForSingleObject(thread.get(), INFINITE);
    thread.reset(KernelHandleKind::none());
}

void CStopWatchdog::onControl(DWORD control) {
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) {
        return;
    }
    WaitForSingleObject(lock.get(), INFINITE);
    clock.stopRequested(GetTickCount64(), control == SERVICE_CONTROL_SHUTDOWN, shutdownAllowanceMs);
    SetEvent(wake.get());
    ReleaseMutex(lock.get());
}

void CStopWatchdog::onStatus(DWORD state, DWORD checkPoint, DWORD waitHint) {
    WaitForSingleObject(lock.get(), INFINITE);
    clock.status(GetTickCount64(), state, checkPoint, waitHint);
    SetEvent(wake.get());
    ReleaseMutex(lock.get());
}

DWORD WINAPI CStopWatchdog::threadRoutine(LPVOID watchdog) {
    static_cast<CStopWatchdog*>(watchdog)->run();
    return 0;
}

void CStopWatchdog::run() {
    for (;;) {
        WaitForSingleObject(lock.get(), INFINITE);
        DWORD waitMs = INFINITE;
        ULONGLONG now = GetTickCount64();
        StopClockAction action = quit ? STOP_CLOCK_IDLE : clock.due(now, &waitMs);
        DWORD state = clock.getLastState();
        DWORD checkPoint = clock.getLastCheckPoint();
        DWORD silentMs = clock.getSilentMs(now);
        if (action == STOP_CLOCK_WARN) {
            clock.warned();
        }
        int stopNow = quit;
        ResetEvent(wake.get());
        ReleaseMutex(lock.get());
        if (stopNow) {
            return;
        }
        if (action == STOP_CLOCK_WARN || action == STOP_CLOCK_END) {
            executor->actOnStalledStop(action == STOP_CLOCK_END, state, checkPoint, silentMs);
            continue;
        }
        // News (a control, a report, the end of the task) or the deadline, whichever comes first.
        WaitForSingleObject(wake.get(), waitMs);
    }
}

void CExecutor::startStopWatchdog() {
    DWORD timeout = configuredStopTimeout(settings, logger);
    watchdog = new CStopWatchdog(this, timeout, shutdownAllowance());
    if (timeout != 0 && !watchdog->start()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot create the stop watchdog thread; stops are not timed.", error);
        logger->logSystemError(error);
    }
}

void CExecutor::endStopWatchdog() {
    // The object stays until the executor goes: Java threads may still report a state.
    if (watchdog != nullptr) {
        watchdog->finish();
    }
}

void CExecutor::noteControlForWatchdog(DWORD control) {
    if (watchdog != nullptr) {
        watchdog->onControl(control);
    }
}

void CExecutor::noteStatusForWatchdog(DWORD state, DWORD checkPoint, DWORD waitHint) {
    if (watchdog != nullptr) {
        watchdog->onStatus(state, checkPoint, waitHint);
    }
}

void CExecutor::actOnStalledStop(int endProcess, DWORD lastState, DWORD lastCheckPoint,
                                 DWORD silentMs) {
    logger->logEntry(L"CExecutor::actOnStalledStop", endProcess);
    // The dump first: it shows what the Java side is doing while it fails to stop.
    int dumped = JVM_DUMP_NOT_ASKED;
    // Even once serviceMain has returned: the stop may stall on a control still inside Java.
    CJvm* host = acquireJvm(1);
    if (host != nullptr) {
        dumped = host->dumpThreads(dumpWaitMs);
        releaseJvm();
    }
    wchar_t where[600];
    if (dumped == JVM_DUMP_NOT_ASKED) {
        swprintf(where, 600,
                 L"The Java threads could not be dumped (the VM refuses its break signal, for "
                 L"example under -Xrs).");
    } else if (g_pVerboseOutputFile != nullptr) {
        swprintf(where, 600, L"The Java threads were dumped to the verboseOutput file %.500ls.",
                 g_pVerboseOutputFile);
    } else {
        swprintf(where, 600, L"The Java threads were dumped to the service's standard output.");
    }
    wchar_t text[1200];
    if (endProcess) {
        swprintf(text, 1200,
                 L"The service %.256ls did not stop in time: no progress for %lu ms since Java "
                 L"last reported %ls (checkpoint %lu). %ls Ending the process.",
                 serviceName, static_cast<unsigned long>(silentMs), serviceStateName(lastState),
                 static_cast<unsigned long>(lastCheckPoint), where);
    } else {
        swprintf(text, 1200,
                 L"Warning: the service %.256ls is still stopping after %lu ms without progress; "
                 L"Java last reported %ls (checkpoint %lu). %ls The service is left to stop by "
                 L"itself; set stopTimeout to end it.",
                 serviceName, static_cast<unsigned long>(silentMs), serviceStateName(lastState),
                 static_cast<unsigned long>(lastCheckPoint), where);
    }
    logger->logMessage(text);
    if (withoutSCM) {
        // Development mode: the console is where the administrator looks.
        fwprintf(stderr, L"%ls\n", text);
        fflush(stderr);
    }
    if (!endProcess) {
        logger->logExit(L"CExecutor::actOnStalledStop", 0);
        return;
    }
    if (!withoutSCM) {
        WaitForSingleObject(statusLock.get(), INFINITE);
        int stopped = serviceStatus.dwCurrentState == SERVICE_STOPPED;
        ReleaseMutex(statusLock.get());
        // A service that said it stopped but whose serviceMain never returned is only ended.
        if (!stopped) {
            reportFinalStop(BRONTEL_RESULT_STOP_TIMEOUT);
        }
    }
    logger->logExit(L"CExecutor::actOnStalledStop", BRONTEL_RESULT_STOP_TIMEOUT);
    // Java threads that ignore the stop would keep the process alive through any orderly exit.
    TerminateProcess(GetCurrentProcess(), BRONTEL_RESULT_STOP_TIMEOUT);
}
