#include "runtime/operate/service_operations.h"

#include "platform/handles.h"
#include "platform/result_codes.h"
#include "registry/service_manager.h"
#include "registry/stop_progress.h"
#include "runtime/events/result_words.h"
#include "runtime/operate/status_report.h"

#include <stdio.h>
#include <time.h>

namespace {

const ULONGLONG progressLineMs = 1000;

// Prints the state and checkpoint as they change, at most a line a second, and only to a
// terminal: a script reading the output sees the final line alone.
class CProgressLines {
  public:
    CProgressLines() : terminal(_isatty(_fileno(stdout)) != 0), printed(0), lastAt(0) {}
    void show(const SERVICE_STATUS_PROCESS& status) {
        if (!terminal) {
            return;
        }
        if (printed && status.dwCurrentState == lastState &&
            status.dwCheckPoint == lastCheckPoint) {
            return;
        }
        ULONGLONG now = GetTickCount64();
        if (printed && now - lastAt < progressLineMs) {
            return;
        }
        wprintf(L"  %ls, checkpoint %lu\n", stateWord(status.dwCurrentState),
                static_cast<unsigned long>(status.dwCheckPoint));
        fflush(stdout);
        printed = 1;
        lastAt = now;
        lastState = status.dwCurrentState;
        lastCheckPoint = status.dwCheckPoint;
    }

  private:
    bool terminal;
    int printed;
    ULONGLONG lastAt;
    DWORD lastState = 0;
    DWORD lastCheckPoint = 0;
};

int queryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(status),
                                sizeof *status, &needed)
               ? 1
               : 0;
}

class COperation {
  public:
    COperation(const wchar_t* serviceName, DWORD boundSeconds, CLogger* logger)
        : serviceName(serviceName), boundMs(static_cast<ULONGLONG>(boundSeconds) * 1000),
          logger(logger), began(static_cast<DWORD>(time(nullptr))) {}

    int open() {
        if (!isBrontelService(serviceName)) {
            printNotInstalled(serviceName, logger);
            return BRONTEL_RESULT_NOT_INSTALLED;
        }
        manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager.isOpen()) {
            logger->logSystemError(L"Cannot open the service control manager. rc=", GetLastError());
            return BRONTEL_RESULT_SCM_FAILED;
        }
        service.reset(OpenServiceW(manager.get(), serviceName,
                                   SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
        if (!service.isOpen()) {
            DWORD error = GetLastError();
            if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
                printNotInstalled(serviceName, logger);
                return BRONTEL_RESULT_NOT_INSTALLED;
            }
            logger->logSystemError(L"Cannot open the service. rc=", error);
            return BRONTEL_RESULT_NOT_DELIVERED;
        }
        return 0;
    }

    int start() {
        DWORD error = askToStart();
        if (error == ERROR_SERVICE_ALREADY_RUNNING && stopping()) {
            // Still stopping, which the manager calls running: the stop ends first.
            int result = waitFor(SERVICE_STOPPED);
            if (result != 0) {
                return result;
            }
            error = askToStart();
        }
        return reach(error, ERROR_SERVICE_ALREADY_RUNNING, L"start", SERVICE_RUNNING,
                     L" is running.");
    }

    int stop() {
        SERVICE_STATUS status = {};
        // A stop under way is waited for, as one asked for now would be.
        return reach(askToStop(service.get(), &status), ERROR_SERVICE_NOT_ACTIVE, L"stop",
                     SERVICE_STOPPED, L" is stopped.");
    }

  private:
    // The manager calls a service that is still stopping running, and refuses its start.
    bool stopping() {
        SERVICE_STATUS_PROCESS status = {};
        return queryStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOP_PENDING;
    }

    // 0, or why the manager refused the start.
    DWORD askToStart() { return StartServiceW(service.get(), 0, nullptr) ? 0 : GetLastError(); }

    // After the request (`error` 0: accepted): a refusal with `already` means the state is there
    // already; then the wait for `state`, said with `reached`.
    int reach(DWORD error, DWORD already, const wchar_t* what, DWORD state,
              const wchar_t* reached) {
        if (error != 0 && error != already) {
            refused(what, error);
            return BRONTEL_RESULT_NOT_DELIVERED;
        }
        int result = waitFor(state);
        if (result == 0) {
            logger->logMessage(L"The service ", serviceName, reached);
        }
        return result;
    }

    void refused(const wchar_t* what, DWORD error) {
        wchar_t text[512];
        windowsCodeMeaning(error, text, 512);
        wchar_t message[900];
        swprintf(message, 900,
                 L"The Service Control Manager refused to %ls the service %ls: %lu (%ls)", what,
                 serviceName, static_cast<unsigned long>(error), text);
        logger->logMessage(message);
    }

    // Polls every 250 ms or sooner until the state is `wanted`.
    int waitFor(DWORD wanted) {
        ULONGLONG waitBegan = GetTickCount64();
        CStopProgress progress;
        CProgressLines lines;
        SERVICE_STATUS_PROCESS status = {};
        for (;;) {
            if (!queryStatus(service.get(), &status)) {
                logger->logSystemError(L"Cannot query the service's status. rc=", GetLastError());
                return BRONTEL_RESULT_NOT_DELIVERED;
            }
            if (status.dwCurrentState == wanted) {
                return 0;
            }
            if (wanted == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) {
                logger->logMessage(L"The service ", serviceName, L" stopped while starting.");
                printExitCodes(status);
                printEventPlace(serviceName, began - 1);
                fflush(stdout);
                return BRONTEL_RESULT_START_FAILED;
            }
            lines.show(status);
            SERVICE_STATUS plain = {status.dwServiceType,
                                    status.dwCurrentState,
                                    status.dwControlsAccepted,
                                    status.dwWin32ExitCode,
                                    status.dwServiceSpecificExitCode,
                                    status.dwCheckPoint,
                                    status.dwWaitHint};
            DWORD wait = progress.nextWait(plain);
            ULONGLONG elapsed = GetTickCount64() - waitBegan;
            if (wait == 0 || (boundMs != 0 && elapsed >= boundMs)) {
                wchar_t message[700];
                swprintf(
                    message, 700,
                    L"The service %ls did not reach %ls: it is %ls, checkpoint %lu, after %llu "
                    L"seconds%ls.",
                    serviceName, stateWord(wanted), stateWord(status.dwCurrentState),
                    static_cast<unsigned long>(status.dwCheckPoint), elapsed / 1000,
                    wait == 0 ? L" (no progress within its wait hints)" : L" (-W)");
                logger->logMessage(message);
                printExitCodes(status);
                printEventPlace(serviceName, began - 1);
                fflush(stdout);
                return BRONTEL_RESULT_WAIT_TIMEOUT;
            }
            if (boundMs != 0 && elapsed + wait > boundMs) {
                wait = static_cast<DWORD>(boundMs - elapsed);
            }
            Sleep(wait);
        }
    }

    const wchar_t* serviceName;
    ULONGLONG boundMs;
    CLogger* logger;
    DWORD began; // seconds since 1970: only an event written since then explains this run
    CServiceHandle manager;
    CServiceHandle service;
};

} // namespace

int operateService(const wchar_t* serviceName, ServiceOperation operation, DWORD boundSeconds,
                   CLogger* logger) {
    COperation work(serviceName, boundSeconds, logger);
    int result = work.open();
    if (result != 0) {
        return result;
    }
    if (operation == OPERATION_STOP || operation == OPERATION_RESTART) {
        result = work.stop();
    }
    if (result == 0 && (operation == OPERATION_START || operation == OPERATION_RESTART)) {
        result = work.start();
    }
    return result;
}
