// Which program a pre-initialization command line starts, decided once before CreateProcessW
// sees it, and handed to it as the application name: the system's own guessing would try
// "C:\Tools\My.exe" for "C:\Tools\My App\prep.exe" and look for a bare name in the current
// directory, both places others may be able to write.
#ifndef BRONTEL_RUNTIME_PREINIT_PROGRAM_H
#define BRONTEL_RUNTIME_PREINIT_PROGRAM_H

#include <string>

#define PREINIT_PROGRAM_OK 0
// Unquoted, and the line reads as a path with blanks: a longer stretch up to a later blank names
// a file, or the word after the first one goes on with a relative path or a program's name.
#define PREINIT_PROGRAM_NEEDS_QUOTES 1
// A bare name found neither in the program's own folder nor in any absolute folder of PATH, or
// a path that names no file.
#define PREINIT_PROGRAM_NOT_FOUND 2
// A path that is not absolute: it would be looked up from whatever the current directory is.
#define PREINIT_PROGRAM_NOT_ABSOLUTE 3

struct PreinitProgram {
    std::wstring path;  // on PREINIT_PROGRAM_OK: the absolute path of the file to start
    std::wstring named; // the program as the line names it (for NEEDS_QUOTES: the stretch that
                        // shows the blanks); never any of its arguments
    int hasArguments;   // something follows the program on the line
};

int resolvePreinitProgram(const wchar_t* command, PreinitProgram& program);

#endif
