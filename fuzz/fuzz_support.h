// Shared set-up for the fuzz targets: a throw-away machine root, a quiet console, and the
// decoding of fuzz bytes into the wide texts the program works with.
#ifndef BRONTEL_FUZZ_FUZZ_SUPPORT_H
#define BRONTEL_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace fuzzsupport {

// A fresh directory for this fuzzing process. It becomes $BRONTEL_ROOT, so registry writes
// (for example by -t) land in a database nobody else uses, and the working directory, so a
// relative file name never reaches the repository.
inline const std::string& scratchDirectory() {
    static const std::string dir = [] {
        // Under $TMPDIR, which scripts/fuzz points at a directory it removes afterwards.
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brontel-fuzz.XXXXXX";
        const char* made = mkdtemp(&pattern[0]);
        if (made == nullptr) {
            perror("brontel fuzz: mkdtemp");
            abort();
        }
        return std::string(made);
    }();
    return dir;
}

// Call from LLVMFuzzerInitialize, before the program's code runs for the first time (the
// stand-in reads $BRONTEL_ROOT once). Console output goes to /dev/null so that the echo of
// messages does not drown libFuzzer's own output.
inline void setUpProcess(bool quietStdout = true) {
    const std::string& dir = scratchDirectory();
    setenv("BRONTEL_ROOT", (dir + "/root").c_str(), 1);
    if (chdir(dir.c_str()) != 0) {
        perror("brontel fuzz: chdir");
        abort();
    }
    if (quietStdout && freopen("/dev/null", "w", stdout) == nullptr) {
        perror("brontel fuzz: /dev/null");
        abort();
    }
}

// Bytes to wide characters: ASCII as it is, everything else decoded as UTF-8 where it forms a
// valid sequence and one character per byte (U+0080..U+00FF) where it does not. Every wide
// character the program can meet from a command line is reachable, and the mutator can work on
// plain ASCII option words.
inline std::wstring decodeText(const uint8_t* data, size_t size) {
    std::wstring text;
    text.reserve(size);
    size_t i = 0;
    while (i < size) {
        uint8_t b = data[i];
        int extra = b >= 0xF0 && b <= 0xF4  ? 3
                    : b >= 0xE0 && b < 0xF0 ? 2
                    : b >= 0xC2 && b < 0xE0 ? 1
                                            : 0;
        if (extra > 0 && i + extra < size) {
            uint32_t cp = b & (0x3F >> extra);
            bool valid = true;
            for (int k = 1; k <= extra; ++k) {
                uint8_t c = data[i + k];
                valid = valid && (c & 0xC0) == 0x80;
                cp = (cp << 6) | (c & 0x3F);
            }
            if (valid && cp >= 0x80 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                text.push_back(static_cast<wchar_t>(cp));
                i += static_cast<size_t>(extra) + 1;
                continue;
            }
        }
        text.push_back(static_cast<wchar_t>(b));
        ++i;
    }
    return text;
}

// decodeText up to the first zero character: the program only ever sees terminated texts.
inline std::wstring decodeTerminated(const uint8_t* data, size_t size) {
    std::wstring text = decodeText(data, size);
    return text.substr(0, text.find(L'\0'));
}

// Splits decoded text at line feeds: one piece per argument.
inline std::vector<std::wstring> splitLines(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// Stops the run with a message; libFuzzer keeps the input as a crash artifact.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "brontel fuzz: check failed: %s (%s:%d)\n", what, __FILE__, __LINE__); \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

} // namespace fuzzsupport

#endif
