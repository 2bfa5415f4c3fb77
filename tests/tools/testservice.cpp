// A small service for the tests, on both builds. Its command line (the service's ImagePath)
// says how it behaves:
//   --stop-hint MS     wait hint reported with STOP_PENDING when asked to stop (default 0)
//   --stop-delay MS    time it takes to stop after reporting STOP_PENDING (default 0)
//   --hang-stop        reports STOP_PENDING when asked to stop and never gets further
//   --no-stop          does not accept the stop control
//   --stuck-stopping   reports STOP_PENDING when sent the control 128 and stays there (running
//                      first: Wine's manager takes a service already stopping when it first
//                      looks for a start that failed, and ends it)
//   --log FILE         appends "running PID", "control N" and "stopped" lines to FILE
// Exit codes (failures print their line on standard output, and to FILE when it can):
//   0   the dispatcher returned after the service stopped
//   2   a Windows call failed: "testservice: CALL failed ERROR"
//   64  an unknown option: "testservice: unknown option ..."
#include "platform/winapi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

wchar_t serviceName[] = L"testservice";
DWORD stopHint = 0;
DWORD stopDelay = 0;
bool hangStop = false;
bool noStop = false;
bool stuckStopping = false;
const wchar_t* logFile = nullptr;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status = {};
HANDLE stopEvent = nullptr;
HANDLE neverEvent = nullptr;

const int exitFailed = 2;
const int exitUsage = 64;
// The user-defined control that sends a --stuck-stopping service into STOP_PENDING.
const DWORD stuckControl = 128;

void logLine(const char* text, long number = -1) {
    if (logFile == nullptr) {
        return;
    }
    HANDLE file = CreateFileW(logFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    char line[128];
    int length = number >= 0 ? snprintf(line, sizeof line, "%s %ld\n", text, number)
                             : snprintf(line, sizeof line, "%s\n", text);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

void report(DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &status);
}

void WINAPI handler(DWORD control) {
    logLine("control", static_cast<long>(control));
    if (control == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING, 0, 1, stopHint);
        SetEvent(stopEvent);
    } else if (control == stuckControl && stuckStopping) {
        report(SERVICE_STOP_PENDING, 0, 1, 1000);
    } else {
        SetServiceStatus(statusHandle, &status);
    }
}

// Says which call failed, on standard output and in the log.
void failed(const char* call) {
    unsigned long error = static_cast<unsigned long>(GetLastError());
    printf("testservice: %s failed %lu\n", call, error);
    fflush(stdout);
    char line[96];
    snprintf(line, sizeof line, "%s failed", call);
    logLine(line, static_cast<long>(error));
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    statusHandle = RegisterServiceCtrlHandlerW(serviceName, handler);
    if (statusHandle == nullptr) {
        failed("RegisterServiceCtrlHandlerW");
        return;
    }
    report(SERVICE_RUNNING, noStop ? 0 : SERVICE_ACCEPT_STOP, 0, 0);
    logLine("running", static_cast<long>(GetCurrentProcessId()));
    WaitForSingleObject(stuckStopping ? neverEvent : stopEvent, INFINITE);
    if (hangStop) {
        WaitForSingleObject(neverEvent, INFINITE);
    }
    // The work a real service would do while it stops.
    if (stopDelay > 0) {
        WaitForSingleObject(neverEvent, stopDelay);
    }
    logLine("stopped");
    report(SERVICE_STOPPED, 0, 0, 0);
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (wcscmp(argv[i], L"--stop-hint") == 0 && hasValue) {
            stopHint = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        } else if (wcscmp(argv[i], L"--stop-delay") == 0 && hasValue) {
            stopDelay = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        } else if (wcscmp(argv[i], L"--log") == 0 && hasValue) {
            logFile = argv[++i];
        } else if (wcscmp(argv[i], L"--hang-stop") == 0) {
            hangStop = true;
        } else if (wcscmp(argv[i], L"--no-stop") == 0) {
            noStop = true;
        } else if (wcscmp(argv[i], L"--stuck-stopping") == 0) {
            stuckStopping = true;
        } else {
            wprintf(L"testservice: unknown option %ls\n", argv[i]);
            return exitUsage;
        }
    }
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    neverEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr || neverEvent == nullptr) {
        failed("CreateEventW");
        return exitFailed;
    }
    SERVICE_TABLE_ENTRYW table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        failed("StartServiceCtrlDispatcherW");
        return exitFailed;
    }
    return 0;
}
