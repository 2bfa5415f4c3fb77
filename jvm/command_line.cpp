#include "jvm/command_line.h"

#include <stdlib.h>

wchar_t* splitCommandLine(const wchar_t* value, int* count) {
    *count = 0;
    size_t length = wcslen(value);
    wchar_t* buffer = static_cast<wchar_t*>(calloc(length + 10, sizeof(wchar_t)));
    if (buffer == nullptr) {
        return nullptr;
    }
    // The output never outgrows the input: every dropped character makes room, and a blank
    // is replaced by the terminator of its argument.
    int arguments = 1;
    int escaped = 0;
    int quoted = 0;
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = value[i];
        if (!escaped && c == L'"') {
            quoted = !quoted;
        } else if (!escaped && c == L'\\') {
            escaped = 1;
        } else if (!escaped && !quoted && c == L' ') {
            buffer[out++] = L'\0';
            ++arguments;
        } else {
            buffer[out++] = c;
            escaped = 0;
        }
    }
    *count = arguments;
    return buffer;
}
