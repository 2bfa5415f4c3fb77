// Wide text to the ANSI code page, for the Java VM and the C library.
#include "registry/registry.h"

#include <stdlib.h>

namespace {

// Converts without best-fit mapping: a character the code page lacks must never turn into a
// look-alike, which in a path or an option names something else. 0 and
// ERROR_NO_UNICODE_TRANSLATION when anything would be lost.
int toAnsi(const wchar_t* text, char* narrow, int size) {
    BOOL usedDefault = FALSE;
    int converted;
    if (GetACP() == CP_UTF8) {
        // UTF-8 holds every character; only broken text (a lone surrogate) can be lost, and
        // this code page takes neither best-fit flags nor a default-character report.
        converted = WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, text, -1, narrow, size,
                                        nullptr, nullptr);
    } else {
        converted = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, narrow, size,
                                        nullptr, &usedDefault);
    }
    if (converted > 0 && usedDefault) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return converted;
}

} // namespace

char* convertToMBCS(const wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    // Measured first: in a multi-byte code page one character may need several bytes.
    int needed = toAnsi(text, nullptr, 0);
    if (needed <= 0) {
        return nullptr;
    }
    char* narrow = static_cast<char*>(calloc(static_cast<size_t>(needed) + 1, 1));
    if (narrow == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (toAnsi(text, narrow, needed) <= 0) {
        free(narrow);
        return nullptr;
    }
    return narrow;
}
