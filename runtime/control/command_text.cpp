#include "runtime/control/command_text.h"

#include "platform/winapi.h"

#include <vector>

void appendQuotedArgument(std::wstring& line, const wchar_t* argument) {
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t* p = argument; *p != L'\0'; ++p) {
        if (*p == L'\\') {
            ++backslashes;
            continue;
        }
        if (*p == L'"') {
            // Backslashes before a quote are halved by the parser, and the quote needs its own.
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += *p;
    }
    // Those before the closing quote are halved too.
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::wstring getExecutablePath() {
    // 512 characters suffice almost always; longer paths get a larger buffer.
    for (DWORD size = 512; size <= 65536; size *= 2) {
        std::vector<wchar_t> buffer(size);
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return std::wstring();
        }
        if (length < size) {
            return std::wstring(buffer.data(), length);
        }
    }
    return std::wstring();
}
