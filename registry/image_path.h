// A service's "ImagePath": the program and its arguments, quoted by brontel's installer but
// possibly unquoted when another installer wrote it or an administrator edited it.
#pragma once

#include <stddef.h>

// Cuts the program's path out of `imagePath` in place. A quoted path ends at its closing quote
// (a path without one is left whole); an unquoted one ends after the first ".exe" that a blank or
// the end follows, as Windows reads it, or is left whole when it names no ".exe".
void cutImageProgram(wchar_t* imagePath);

// 1 when `imagePath` starts unquoted and its program's path (ending in ".exe") holds a blank:
// Windows then tries the text before the first blank as a program first. The text before that blank
// goes into `first` (at most `firstChars` characters with the terminator, cut when longer).
int isUnquotedWithBlank(const wchar_t* imagePath, wchar_t* first, size_t firstChars);

// The characters a warning of imagePathWarning takes at most, with the terminator.
const size_t imagePathWarningChars = 2400;
// 1 when the service's ImagePath is unquoted with a blank in its program's path, with the
// warning -d and the status command give about it in `text` (imagePathWarningChars).
int imagePathWarning(const wchar_t* serviceName, wchar_t* text);
