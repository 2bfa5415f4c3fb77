// Who may serve and who may use a service's control pipe. Anyone on the machine can create a
// pipe of that name first, so a sender checks the server before it writes a control into it,
// and the server admits only the accounts that could control the service anyway.
#ifndef BRONTEL_RUNTIME_PIPE_TRUST_H
#define BRONTEL_RUNTIME_PIPE_TRUST_H

#include "platform/winapi.h"

#include <string>
#include <vector>

// The identifiers the decisions rest on, as raw SID bytes.
std::vector<BYTE> localSystemSid();
std::vector<BYTE> administratorsSid();
// The user a token belongs to, and whether Administrators is an enabled group of it; 0 and the
// error in GetLastError when the token cannot be read.
int getTokenUser(HANDLE token, std::vector<BYTE>& user);
int tokenHasAdministrators(HANDLE token);
// A server is trusted when it runs as the sender's own user, as LocalSystem, or with the
// Administrators group enabled.
int isTrustedServerUser(const std::vector<BYTE>& serverUser, int serverIsAdministrator,
                        const std::vector<BYTE>& callerUser);
// Asks the system who serves `pipe` and applies the rule above. 1 trusted, 0 not; `error` gets
// the Windows error when the answer could not be had (then 0 as well).
int isTrustedPipeServer(HANDLE pipe, DWORD* error);
// The server's security descriptor in text form: full access for LocalSystem, Administrators
// and the creating user; empty when the creating user cannot be had.
std::wstring controlPipeSecurity();
// A service name that keeps the pipe's path a single name: no "\" and no "/".
int isPipeSafeServiceName(const wchar_t* serviceName);

#endif
