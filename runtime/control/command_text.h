// Building command lines for CreateProcessW that split back into the intended arguments.
#ifndef BRONTEL_RUNTIME_COMMAND_TEXT_H
#define BRONTEL_RUNTIME_COMMAND_TEXT_H

#include <string>

// Appends `argument` enclosed in double quotes, escaped so that the Windows command-line rules
// give it back unchanged (blanks, quotes and trailing backslashes included).
void appendQuotedArgument(std::wstring& line, const wchar_t* argument);
// The full path of the running executable, however long; empty when it cannot be had.
std::wstring getExecutablePath();

#endif
