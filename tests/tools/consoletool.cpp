// Test tool: the order in which console control handlers, and the action that was in place
// before them, see console events. Writes one line per call to FILE, in rounds:
//   1. Ctrl+C, the newest handler handles it           2. Ctrl+C, nobody handles it
//   3. Ctrl+C after the newest handler was removed     4. Ctrl+Break for the whole group
//   5. the C library's raise(SIGINT): no console event, only the earlier action runs
//   6. "waiting": a shutdown from outside that nobody handles ends the process by default
// Run it in a process group of its own: the events are generated for the whole group.
//   consoletool chain FILE
#include "platform/winapi.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t* logPath = nullptr;
HANDLE roundDone = nullptr;
volatile LONG secondHandles = 0;

void note(const char* what, unsigned long number) {
    char line[64];
    snprintf(line, sizeof line, "%s %lu\n", what, number);
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
        CloseHandle(file);
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
    WaitForSingleObject(roundDone, INFINITE);
    ResetEvent(roundDone);
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || wcscmp(argv[1], L"chain") != 0) {
        fwprintf(stderr, L"usage: consoletool chain FILE\n");
        return 64;
    }
    logPath = argv[2];
    roundDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    signal(SIGINT, previous);
    SetConsoleCtrlHandler(first, TRUE);
    SetConsoleCtrlHandler(second, TRUE);

    secondHandles = 1;
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    waitRound();
    secondHandles = 0;
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    waitRound();
    SetConsoleCtrlHandler(second, FALSE);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    waitRound();
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
    waitRound();
    raise(SIGINT);
    waitRound();
    note("waiting", 0);
    // Ended from outside.
    WaitForSingleObject(roundDone, INFINITE);
    return 0;
}
