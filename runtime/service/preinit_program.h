// Which program a pre-initialization command line starts, decided before CreateProcessW sees
// it: the system's own guessing would try "C:\Tools\My.exe" for "C:\Tools\My App\prep.exe" and
// look for a bare name in the current directory, both places others may be able to write.
#ifndef BRONTEL_RUNTIME_PREINIT_PROGRAM_H
#define BRONTEL_RUNTIME_PREINIT_PROGRAM_H

#include <string>

#define PREINIT_PROGRAM_OK 0
// Unquoted, and a longer stretch of the line up to a later blank names a file: the program's
// path has blanks and must be quoted.
#define PREINIT_PROGRAM_NEEDS_QUOTES 1
// A bare name found neither in the program's own folder nor in any absolute folder of PATH.
#define PREINIT_PROGRAM_NOT_FOUND 2

// On PREINIT_PROGRAM_OK, `program` is the full path of a bare name's program, or empty when the
// command names its program by a path (which CreateProcessW then takes as written).
int resolvePreinitProgram(const wchar_t* command, std::wstring& program);

#endif
