// What a result code means, in a few words: the status command and the start and stop
// commands say an exit code's meaning with these, the same words everywhere.
#ifndef BRONTEL_RUNTIME_RESULT_WORDS_H
#define BRONTEL_RUNTIME_RESULT_WORDS_H

#include "platform/winapi.h"

#include <stddef.h>

// A code and its text, in the tables that word result codes.
struct CodeText {
    int code;
    const wchar_t* text;
};
// The text of `code` in `table` (of `count` entries), or null.
const wchar_t* textOfCode(const CodeText* table, size_t count, int code);

// The meaning of one of the program's result codes; null for a number it never gives (a
// program's own System.exit code, for example).
const wchar_t* resultCodeMeaning(int code);
// The meaning of a service-specific exit code into `text` (at most `chars` characters with the
// ending zero): the program's words, or that the Java program gave it.
void serviceExitCodeMeaning(DWORD code, wchar_t* text, size_t chars);
// Windows' text for a Windows error code into `text`, without its line end; "unknown error"
// when Windows has none.
void windowsCodeMeaning(DWORD code, wchar_t* text, size_t chars);

#endif
