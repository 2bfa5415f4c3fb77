// Splits the service's stored command-line parameters into the arguments of the Java
// serviceMain.
#ifndef BRONTEL_JVM_COMMAND_LINE_H
#define BRONTEL_JVM_COMMAND_LINE_H

#include <wchar.h>

// Splits `value` at blanks (U+0020 only) outside double quotes. A double quote toggles quoting
// and is dropped; a backslash makes the next character literal and is dropped. Returns a new
// zero-filled buffer (calloc; free() it) of wcslen(value) + 10 characters holding the arguments
// one after another, each ended by a zero character, and writes their number (at least 1)
// through `count`. Null (count 0) when out of memory.
wchar_t* splitCommandLine(const wchar_t* value, int* count);

#endif
