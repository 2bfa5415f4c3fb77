// Bench tool: writes trace lines through the program's logger as fast as it can, the way a busy
// brontel process does. Each line says who wrote it, its number and how long its padding is, so
// that a reader can tell a whole line from a torn or mixed one.
//   trace_writer TAG COUNT
// Exit code 0, or 1 when tracing is off (the registry switch names no file) or on bad usage.
#include "trace/logger.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: trace_writer TAG COUNT\n");
        return 1;
    }
    const wchar_t* tag = argv[1];
    long count = wcstol(argv[2], nullptr, 10);
    CLogger logger;
    if (!logger.isFileEnabled()) {
        fwprintf(stderr, L"trace_writer: tracing is off\n");
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        // Padding of 0 to 396 characters: lines of many sizes, some larger than a pipe buffer's
        // atomic write would be on other systems.
        size_t padding = static_cast<size_t>((i * 37) % 397);
        wchar_t head[64];
        swprintf(head, 64, L" %ld %lu ", i, static_cast<unsigned long>(padding));
        std::wstring pad(padding, static_cast<wchar_t>(L'a' + i % 26));
        logger.logMessage(tag, head, pad.c_str());
    }
    return 0;
}
