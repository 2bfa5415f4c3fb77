// Granting an account the right to log on as a service, through the Local Security Authority.
#ifndef BRONTEL_INSTALL_LOGON_RIGHT_H
#define BRONTEL_INSTALL_LOGON_RIGHT_H

#include "platform/handles.h"
#include "platform/winapi.h"

#include <string>

// 0 on success; 87 for an empty name; else the LSA status or the lookup's Win32 error.
NTSTATUS SetServiceRightW(const wchar_t* accountName, const wchar_t* systemName);
NTSTATUS OpenPolicy(const wchar_t* systemName, DWORD desiredAccess, PLSA_HANDLE policyHandle);
// The SID comes from the process's heap: held in a CAccountSid, it is freed there.
BOOL GetAccountSid(const wchar_t* systemName, const wchar_t* accountName, PSID* sid);
struct AccountSidKind {
    typedef PSID Type;
    static Type none() { return nullptr; }
    static bool isValid(Type sid) { return sid != nullptr; }
    static void close(Type sid) { HeapFree(GetProcessHeap(), 0, sid); }
};
typedef CHandleOf<AccountSidKind> CAccountSid;
NTSTATUS SetPrivilegeOnAccount(LSA_HANDLE policyHandle, PSID sid, const wchar_t* privilegeName,
                               BOOL enable);
// The account as the lookup takes it: ".\\user" (which the Service Control Manager accepts but the
// lookup does not) names the local computer's account; any other form is passed whole.
std::wstring accountForLookup(const wchar_t* account);
void InitLsaString(PLSA_UNICODE_STRING lsaString, const wchar_t* text);

#endif
