// Test tool: the output capture and the event message table, the same on both builds.
//   capturetool capture OUT ERR ROTATE KEEP LINES
//       captures standard output into OUT and standard error into ERR (the same path: one
//       file), then writes through the Windows standard handles and the C runtime, LINES
//       numbered lines more to standard output, and ends the capture; exits 0, or with the
//       capture's start result when it refused to start (nothing is written then)
//   capturetool format EXE ID [INSERT...]
//       prints the text of message ID of EXE's message table with the inserts; exits 1 when
//       the table or the message is missing
#include "platform/winapi.h"
#include "runtime/capture/output_capture.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#ifndef FORMAT_MESSAGE_ARGUMENT_ARRAY
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#endif

namespace {

void writeHandle(DWORD which, const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

int capture(wchar_t** args) {
    CLogger logger;
    CaptureSettings settings = {};
    settings.stdoutPath = args[0];
    settings.stderrPath = args[1];
    settings.rotateBytes = static_cast<DWORD>(wcstoul(args[2], nullptr, 10));
    settings.keepFiles = static_cast<DWORD>(wcstoul(args[3], nullptr, 10));
    unsigned long lines = wcstoul(args[4], nullptr, 10);
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
        return 1;
    }
    DWORD_PTR inserts[16] = {};
    for (int i = 2; i < argc && i < 18; ++i) {
        inserts[i - 2] = reinterpret_cast<DWORD_PTR>(args[i]);
    }
    wchar_t* text = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                           FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       module, static_cast<DWORD>(wcstoul(args[1], nullptr, 10)), 0,
                       reinterpret_cast<LPWSTR>(&text), 0, reinterpret_cast<va_list*>(inserts));
    if (length == 0 || text == nullptr) {
        wprintf(L"capturetool: no message %ls: %lu\n", args[1],
                static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    wprintf(L"%ls\n", text);
    LocalFree(text);
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
    wprintf(L"usage: capturetool capture OUT ERR ROTATE KEEP LINES | format EXE ID [INSERT...]\n");
    return 2;
}
