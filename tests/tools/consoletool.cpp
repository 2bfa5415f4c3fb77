// Test tool: the order in which console control handlers, and the action that was in place
// before them, see console events. Writes one line per call to FILE, in rounds:
//   1. Ctrl+C, the newest handler handles it           2. Ctrl+C, nobody handles it
//   3. Ctrl+C after the newest handler was removed     4. Ctrl+Break for the whole group
//   5. the C library's raise(SIGINT): no console event, only the earlier action runs
//   6. "waiting": a shutdown from outside that nobody handles ends the process by default
// Run it in a process group of its own: the events are generated for the whole group.
//   consoletool chain FILE
// Exit codes (failures print their line on standard error):
//   0   all rounds done (it is normally ended from outside while "waiting")
//   2   a Windows call failed: "consoletool: CALL failed: ERROR"
//   64  bad arguments: the usage
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "platform/winapi.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t* logPath = nullptr;
HANDLE roundDone = nullptr;
volatile LONG secondHandles = 0;

const int exitFailed = 2;
const int exitUsage = 64;

// Also called from the handlers' threads: the process ends here. C library calls give errno.
void failWith(const wchar_t* call, unsigned long error) {
    fwprintf(stderr, L"consoletool: %ls failed: %lu\n", call, error);
    fflush(stderr);
    exit(exitFailed);
}

void fail(const wchar_t* call) {
    failWith(call, static_cast<unsigned long>(GetLastError()));
}

void note(const char* what, unsigned long number) {
    char line[64];
    snprintf(line, sizeof line, "%s %lu\n", what, number);
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail(L"CreateFileW (the log)");
    }
    DWORD written = 0;
    BOOL wrote = WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(file);
    if (!wrote) {
        fail(L"WriteFile (the log)");
    }
}

// What was installed before any console handler: the C library's signal handler.
void previous(int sig) {
    note("previous", static_cast<unsigned long>(sig));
    SetEvent(roundDone);
}

BOOL WINAPI first(DWORD event) {
    note("first", event);
    if (event == CTRL_BREAK_EVENT) {
        SetEvent(roundDone);
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI second(DWORD event) {
    note("second", event);
    if (secondHandles) {
        SetEvent(roundDone);
        return TRUE;
    }
    return FALSE;
}

void waitRound() {
    if (WaitForSingleObject(roundDone, INFINITE) != WAIT_OBJECT_0) {
        fail(L"WaitForSingleObject");
    }
    ResetEvent(roundDone);
}

void generate(DWORD event) {
    if (!GenerateConsoleCtrlEvent(event, 0)) {
        fail(L"GenerateConsoleCtrlEvent");
    }
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || wcscmp(argv[1], L"chain") != 0) {
        fwprintf(stderr, L"usage: consoletool chain FILE\n");
        return exitUsage;
    }
    logPath = argv[2];
    roundDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (roundDone == nullptr) {
        fail(L"CreateEventW");
    }
    if (signal(SIGINT, previous) == SIG_ERR) {
        failWith(L"signal", static_cast<unsigned long>(errno));
    }
    if (!SetConsoleCtrlHandler(first, TRUE) || !SetConsoleCtrlHandler(second, TRUE)) {
        fail(L"SetConsoleCtrlHandler");
    }

    secondHandles = 1;
    generate(CTRL_C_EVENT);
    waitRound();
    secondHandles = 0;
    generate(CTRL_C_EVENT);
    waitRound();
    if (!SetConsoleCtrlHandler(second, FALSE)) {
        fail(L"SetConsoleCtrlHandler (removal)");
    }
    generate(CTRL_C_EVENT);
    waitRound();
    generate(CTRL_BREAK_EVENT);
    waitRound();
    if (raise(SIGINT) != 0) {
        failWith(L"raise", static_cast<unsigned long>(errno));
    }
    waitRound();
    note("waiting", 0);
    // Ended from outside.
    WaitForSingleObject(roundDone, INFINITE);
    return 0;
}
