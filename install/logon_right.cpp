// Granting an account the right to log on as a service, through the Local Security Authority.
#include "install/logon_right.h"

#include <wchar.h>

namespace {
const wchar_t serviceLogonRight[] = L"SeServiceLogonRight";

struct PolicyKind {
    typedef LSA_HANDLE Type;
    static Type none() { return nullptr; }
    static bool isValid(Type policy) { return policy != nullptr; }
    static void close(Type policy) { LsaClose(policy); }
};
} // namespace

std::wstring accountForLookup(const wchar_t* account) {
    if (account[0] == L'.' && account[1] == L'\\') {
        wchar_t computer[256] = {0};
        DWORD size = 256;
        if (GetComputerNameW(computer, &size)) {
            return std::wstring(computer) + (account + 1);
        }
        // Without the computer's name the bare user name still finds local accounts first.
        return account + 2;
    }
    return account;
}

void InitLsaString(PLSA_UNICODE_STRING lsaString, const wchar_t* text) {
    if (text == nullptr) {
        lsaString->Buffer = nullptr;
        lsaString->Length = 0;
        lsaString->MaximumLength = 0;
        return;
    }
    // The LSA counts UTF-16 bytes, two per character.
    size_t length = wcslen(text);
    lsaString->Buffer = const_cast<wchar_t*>(text);
    lsaString->Length = static_cast<USHORT>(length * 2);
    lsaString->MaximumLength = static_cast<USHORT>((length + 1) * 2);
}

NTSTATUS OpenPolicy(const wchar_t* systemName, DWORD desiredAccess, PLSA_HANDLE policyHandle) {
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_UNICODE_STRING system;
    PLSA_UNICODE_STRING systemArgument = nullptr;
    if (systemName != nullptr) {
        InitLsaString(&system, systemName);
        systemArgument = &system;
    }
    return LsaOpenPolicy(systemArgument, &attributes, desiredAccess, policyHandle);
}

BOOL GetAccountSid(const wchar_t* systemName, const wchar_t* accountName, PSID* sid) {
    HANDLE heap = GetProcessHeap();
    DWORD sidSize = 128;
    DWORD domainChars = 16;
    PSID identifier = HeapAlloc(heap, 0, sidSize);
    wchar_t* domain = static_cast<wchar_t*>(HeapAlloc(heap, 0, domainChars * sizeof(wchar_t)));
    BOOL found = FALSE;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (identifier != nullptr && domain != nullptr) {
        for (;;) {
            SID_NAME_USE use;
            if (LookupAccountNameW(systemName, accountName, identifier, &sidSize, domain,
                                   &domainChars, &use)) {
                found = TRUE;
                break;
            }
            error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER) {
                break;
            }
            // The lookup has said how much room it needs: grow both and ask again.
            PSID grownSid = HeapReAlloc(heap, 0, identifier, sidSize);
            if (grownSid == nullptr) {
                error = ERROR_NOT_ENOUGH_MEMORY;
                break;
            }
            identifier = grownSid;
            void* grownDomain = HeapReAlloc(heap, 0, domain, domainChars * sizeof(wchar_t));
            if (grownDomain == nullptr) {
                error = ERROR_NOT_ENOUGH_MEMORY;
                break;
            }
            domain = static_cast<wchar_t*>(grownDomain);
        }
    }
    if (domain != nullptr) {
        HeapFree(heap, 0, domain);
    }
    if (!found) {
        if (identifier != nullptr) {
            HeapFree(heap, 0, identifier);
        }
        *sid = nullptr;
        SetLastError(error);
        return FALSE;
    }
    *sid = identifier;
    return TRUE;
}

NTSTATUS SetPrivilegeOnAccount(LSA_HANDLE policyHandle, PSID sid, const wchar_t* privilegeName,
                               BOOL enable) {
    LSA_UNICODE_STRING privilege;
    InitLsaString(&privilege, privilegeName);
    if (enable) {
        return LsaAddAccountRights(policyHandle, sid, &privilege, 1);
    }
    return LsaRemoveAccountRights(policyHandle, sid, FALSE, &privilege, 1);
}

NTSTATUS SetServiceRightW(const wchar_t* accountName, const wchar_t* systemName) {
    if (accountName == nullptr || *accountName == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    CHandleOf<PolicyKind> policy;
    NTSTATUS status =
        OpenPolicy(systemName, POLICY_CREATE_ACCOUNT | POLICY_LOOKUP_NAMES, policy.receive());
    if (status != 0) {
        return status;
    }
    // Accounts are looked up on the local computer, whichever policy was opened.
    CAccountSid sid;
    if (GetAccountSid(nullptr, accountName, sid.receive())) {
        status = SetPrivilegeOnAccount(policy.get(), sid.get(), serviceLogonRight, TRUE);
    } else {
        status = static_cast<NTSTATUS>(GetLastError());
    }
    return status;
}
