// Test tool: the output capture and the event message table, the same on both builds.
//   capturetool capture OUT ERR ROTATE KEEP LINES
//       captures standard output into OUT and standard error into ERR (the same path: one
//       file), then writes through the Windows standard handles and the C runtime, LINES
//       numbered lines more to standard output, and ends the capture; exits 0, or with the
//       capture's start result when it refused to start (nothing is written then)
//   capturetool format EXE ID [INSERT...]
//       prints the text of message ID of EXE's message table with the inserts
// Exit codes:
//   0   done (a capture that could not start shows in the files it leaves)
//   2   the executable or the message is missing: "capturetool: ..."
//   64  bad command or arguments: "capturetool: ..." and the usage
//   35  the capture refused to start: its folder is unsafe (brontel's own code; the reason is
//       in the trace, not on the console)
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "platform/winapi.h"
#include "runtime/capture/output_capture.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#ifndef FORMAT_MESSAGE_ARGUMENT_ARRAY
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#endif

namespace {

const int exitFailed = 2;
const int exitUsage = 64;

int usage(const wchar_t* why, const wchar_t* what) {
    wprintf(L"capturetool: %ls: %ls\n"
            L"usage: capturetool capture OUT ERR ROTATE KEEP LINES | format EXE ID [INSERT...]\n",
            why, what);
    return exitUsage;
}

// A whole decimal number; false for anything else.
bool parseNumber(const wchar_t* text, unsigned long* value) {
    wchar_t* end = nullptr;
    *value = wcstoul(text, &end, 10);
    return text[0] >= L'0' && text[0] <= L'9' && *end == L'\0';
}

void writeHandle(DWORD which, const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

int capture(wchar_t** args) {
    CLogger logger;
    CaptureSettings settings = {};
    settings.stdoutPath = args[0];
    settings.stderrPath = args[1];
    unsigned long numbers[3];
    for (int i = 0; i < 3; ++i) {
        if (!parseNumber(args[2 + i], &numbers[i])) {
            return usage(L"not a number", args[2 + i]);
        }
    }
    settings.rotateBytes = static_cast<DWORD>(numbers[0]);
    settings.keepFiles = static_cast<DWORD>(numbers[1]);
    unsigned long lines = numbers[2];
    COutputCapture output(&logger, nullptr);
    int started = output.start(settings);
    if (started != 0) {
        return started;
    }
    writeHandle(STD_OUTPUT_HANDLE, "handle out\n");
    writeHandle(STD_ERROR_HANDLE, "handle err\n");
    printf("crt out\n");
    fprintf(stderr, "crt err\n");
    for (unsigned long i = 0; i < lines; ++i) {
        char line[64];
        snprintf(line, sizeof line, "line %08lu\n", i);
        writeHandle(STD_OUTPUT_HANDLE, line);
    }
    output.stop();
    return 0;
}

int format(int argc, wchar_t** args) {
    HMODULE module = LoadLibraryW(args[0]);
    if (module == nullptr) {
        wprintf(L"capturetool: cannot load %ls: %lu\n", args[0],
                static_cast<unsigned long>(GetLastError()));
        return exitFailed;
    }
    unsigned long id = 0;
    if (!parseNumber(args[1], &id)) {
        FreeLibrary(module);
        return usage(L"not a message number", args[1]);
    }
    DWORD_PTR inserts[16] = {};
    for (int i = 2; i < argc && i < 18; ++i) {
        inserts[i - 2] = reinterpret_cast<DWORD_PTR>(args[i]);
    }
    wchar_t* text = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                           FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module, static_cast<DWORD>(id), 0, reinterpret_cast<LPWSTR>(&text), 0,
                       reinterpret_cast<va_list*>(inserts));
    if (length == 0 || text == nullptr) {
        wprintf(L"capturetool: no message %ls: %lu\n", args[1],
                static_cast<unsigned long>(GetLastError()));
        FreeLibrary(module);
        return exitFailed;
    }
    wprintf(L"%ls\n", text);
    LocalFree(text);
    FreeLibrary(module);
    return 0;
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc == 7 && wcscmp(argv[1], L"capture") == 0) {
        return capture(argv + 2);
    }
    if (argc >= 4 && wcscmp(argv[1], L"format") == 0) {
        return format(argc - 2, argv + 2);
    }
    return usage(L"unknown command or wrong number of arguments", argc > 1 ? argv[1] : L"none");
}
