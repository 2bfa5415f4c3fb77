// Splitting a Windows command line into its arguments, shared by the pieces that start
// processes from one (service start, process creation).
#ifndef BRONTEL_WINAPI_CMDLINE_H
#define BRONTEL_WINAPI_CMDLINE_H

#include <string>
#include <vector>

namespace standin {

// The arguments of `commandLine` by the rules of the C runtime that Windows programs use:
// the program name ends at the first blank or tab unless it is quoted (no escapes in it);
// later arguments are separated by blanks and tabs, double quotes group, 2n backslashes before
// a quote give n backslashes and a grouping quote, 2n+1 give n backslashes and a literal quote,
// and "" inside a quoted stretch is a literal quote.
std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine);

// The path of the program the first argument names: taken as it is when it contains a slash,
// else searched for in $PATH. Empty when nothing executable is found.
std::string findProgram(const std::wstring& program);

} // namespace standin

#endif
