#include "runtime/control/pipe_trust.h"

#include "platform/handles.h"

#include <string.h>
#include <wchar.h>

namespace {

// A SID of the NT authority (5) with the given sub-authorities.
std::vector<BYTE> ntAuthoritySid(const DWORD* subAuthorities, BYTE count) {
    std::vector<BYTE> sid = {1, count, 0, 0, 0, 0, 0, 5};
    for (BYTE i = 0; i < count; ++i) {
        DWORD value = subAuthorities[i];
        for (int shift = 0; shift < 32; shift += 8) {
            sid.push_back(static_cast<BYTE>(value >> shift));
        }
    }
    return sid;
}

std::vector<BYTE> sidBytes(PSID sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// The token's information of one class, in a buffer sized by asking first.
int readTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<BYTE>& data) {
    DWORD needed = 0;
    GetTokenInformation(token, kind, nullptr, 0, &needed);
    if (needed == 0) {
        return 0;
    }
    data.assign(needed, 0);
    return GetTokenInformation(token, kind, data.data(), needed, &needed) ? 1 : 0;
}

int getProcessUser(HANDLE process, std::vector<BYTE>& user, int* isAdministrator) {
    CWinHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.receive())) {
        return 0;
    }
    int read = getTokenUser(token.get(), user);
    if (read && isAdministrator != nullptr) {
        *isAdministrator = tokenHasAdministrators(token.get());
    }
    DWORD error = GetLastError();
    token.reset(KernelHandleKind::none());
    SetLastError(error);
    return read;
}

} // namespace

std::vector<BYTE> localSystemSid() {
    const DWORD localSystem[] = {18};
    return ntAuthoritySid(localSystem, 1);
}

std::vector<BYTE> administratorsSid() {
    const DWORD administrators[] = {32, 544};
    return ntAuthoritySid(administrators, 2);
}

int getTokenUser(HANDLE token, std::vector<BYTE>& user) {
    std::vector<BYTE> data;
    if (!readTokenInformation(token, TokenUser, data)) {
        return 0;
    }
    user = sidBytes(reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid);
    return 1;
}

int tokenHasAdministrators(HANDLE token) {
    std::vector<BYTE> data;
    if (!readTokenInformation(token, TokenGroups, data)) {
        return 0;
    }
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(data.data());
    std::vector<BYTE> administrators = administratorsSid();
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        // A deny-only group (an administrator's filtered token) does not count.
        if ((groups->Groups[i].Attributes & SE_GROUP_ENABLED) != 0 &&
            sidBytes(groups->Groups[i].Sid) == administrators) {
            return 1;
        }
    }
    return 0;
}

int isTrustedServerUser(const std::vector<BYTE>& serverUser, int serverIsAdministrator,
                        const std::vector<BYTE>& callerUser) {
    if (serverUser.empty()) {
        return 0;
    }
    return serverUser == callerUser || serverUser == localSystemSid() || serverIsAdministrator;
}

int isTrustedPipeServer(HANDLE pipe, DWORD* error) {
    *error = 0;
    ULONG serverId = 0;
    if (!GetNamedPipeServerProcessId(pipe, &serverId)) {
        *error = GetLastError();
        return 0;
    }
    std::vector<BYTE> caller;
    if (!getProcessUser(GetCurrentProcess(), caller, nullptr)) {
        *error = GetLastError();
        return 0;
    }
    CWinHandle server(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
    if (!server.isOpen()) {
        *error = GetLastError();
        return 0;
    }
    std::vector<BYTE> serverUser;
    int serverIsAdministrator = 0;
    int read = getProcessUser(server.get(), serverUser, &serverIsAdministrator);
    if (!read) {
        *error = GetLastError();
    }
    return read && isTrustedServerUser(serverUser, serverIsAdministrator, caller);
}

std::wstring controlPipeSecurity() {
    std::vector<BYTE> user;
    if (!getProcessUser(GetCurrentProcess(), user, nullptr)) {
        return std::wstring();
    }
    CLocalText userText;
    if (!ConvertSidToStringSidW(user.data(), userText.receive())) {
        return std::wstring();
    }
    // Protected, so that nothing is inherited: only these three may open the pipe.
    std::wstring security =
        std::wstring(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;") + userText.get() + L")";
    return security;
}

int isPipeSafeServiceName(const wchar_t* serviceName) {
    return serviceName == nullptr || wcspbrk(serviceName, L"\\/") == nullptr;
}
