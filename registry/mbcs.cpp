// Wide text to the ANSI code page, for the Java VM and the C library.
#include "registry/registry.h"

#include <stdlib.h>

char* convertToMBCS(const wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    // Measured first: in a multi-byte code page one character may need several bytes.
    int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return nullptr;
    }
    char* narrow = static_cast<char*>(calloc(static_cast<size_t>(needed) + 1, 1));
    if (narrow == nullptr) {
        return nullptr;
    }
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, needed, nullptr, nullptr) <= 0) {
        free(narrow);
        return nullptr;
    }
    return narrow;
}
