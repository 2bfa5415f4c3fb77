// Bench: lines per second through the output capture (the process's standard output into a
// pipe, drained into a rotating file) against plain writes of the same lines to a file, in the
// same run. Every line is one write, as Java's System.out.println makes it.
//   capture_throughput DIR LINES [ROTATE_BYTES [KEEP [TIMESTAMPS]]]
// Prints one line per way, then the ratio; every captured line is counted back from the files.
#include "runtime/capture/output_capture.h"

#include <chrono>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <wchar.h>

namespace {

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int writeLines(HANDLE target, long count) {
    char line[96];
    for (long i = 0; i < count; ++i) {
        int length =
            snprintf(line, sizeof line, "line %010ld of the capture bench, some text\n", i);
        DWORD written = 0;
        if (!WriteFile(target, line, static_cast<DWORD>(length), &written, nullptr)) {
            return 0;
        }
    }
    return 1;
}

long countLines(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    static char buffer[1 << 16];
    long lines = 0;
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            lines += buffer[i] == '\n';
        }
    }
    CloseHandle(file);
    return lines;
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr,
                 L"usage: capture_throughput DIR LINES [ROTATE_BYTES [KEEP [TIMESTAMPS]]]\n");
        return 1;
    }
    std::wstring dir = argv[1];
    long count = wcstol(argv[2], nullptr, 10);
    CaptureSettings settings = {};
    settings.rotateBytes = argc > 3 ? static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)) : 10485760;
    settings.keepFiles = argc > 4 ? static_cast<DWORD>(wcstoul(argv[4], nullptr, 10)) : 999;
    settings.timestamps = argc > 5 && wcscmp(argv[5], L"TRUE") == 0;

    std::wstring plainPath = dir + L"/plain.log";
    HANDLE plain = CreateFileW(plainPath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (plain == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"capture_throughput: cannot create %ls\n", plainPath.c_str());
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    int ok = writeLines(plain, count);
    CloseHandle(plain);
    double plainSeconds = seconds(start);

    std::wstring capturedPath = dir + L"/captured.log";
    settings.stdoutPath = &capturedPath[0];
    CLogger logger;
    COutputCapture capture(&logger, nullptr);
    start = std::chrono::steady_clock::now();
    capture.start(settings);
    ok = ok && writeLines(GetStdHandle(STD_OUTPUT_HANDLE), count);
    capture.stop(); // waits until the writer has put the last line into the file
    double captureSeconds = seconds(start);

    long captured = countLines(capturedPath);
    for (DWORD n = 1; n <= settings.keepFiles; ++n) {
        captured += countLines(capturedPath + L"." + std::to_wstring(n));
    }
    printf("plain file:      %ld lines in %.3f s, %.0f lines/s\n", count, plainSeconds,
           count / plainSeconds);
    printf("capture, rotate: %ld lines in %.3f s, %.0f lines/s (%ld lines in the files)\n", count,
           captureSeconds, count / captureSeconds, captured);
    printf("capture / plain: %.2f\n", plainSeconds / captureSeconds);
    if (!ok || captured != count) {
        fprintf(stderr, "capture_throughput: lines were lost\n");
        return 1;
    }
    return 0;
}
