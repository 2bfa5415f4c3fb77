#include "install/service_account.h"

#include "install/logon_right.h"
#include "platform/handles.h"
#include "platform/textutil.h"

#include <wchar.h>

namespace {

const wchar_t ntAuthority[] = L"NT AUTHORITY\\";
const wchar_t ntService[] = L"NT SERVICE\\";

// Windows knows these accounts by either spelling.
const wchar_t* const builtInNames[] = {L"LocalService", L"Local Service", L"NetworkService",
                                       L"Network Service"};

bool startsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
    size_t n = wcslen(prefix);
    if (wcslen(text) < n) {
        return false;
    }
    std::wstring head(text, n);
    return asciiEqualNoCase(head.c_str(), prefix) != 0;
}

bool isBuiltInName(const wchar_t* name) {
    for (const wchar_t* known : builtInNames) {
        if (asciiEqualNoCase(name, known)) {
            return true;
        }
    }
    return false;
}

} // namespace

ServiceAccountKind serviceAccountKind(const wchar_t* account) {
    if (account == nullptr || *account == L'\0' || asciiEqualNoCase(account, L"LocalSystem") ||
        asciiEqualNoCase(account, L".\\LocalSystem") ||
        asciiEqualNoCase(account, L"NT AUTHORITY\\SYSTEM")) {
        return ACCOUNT_LOCAL_SYSTEM;
    }
    if (isBuiltInName(account) ||
        (startsWithNoCase(account, ntAuthority) && isBuiltInName(account + wcslen(ntAuthority)))) {
        return ACCOUNT_BUILT_IN;
    }
    if (startsWithNoCase(account, ntService) && account[wcslen(ntService)] != L'\0') {
        return ACCOUNT_VIRTUAL;
    }
    size_t length = wcslen(account);
    const wchar_t* slash = wcschr(account, L'\\');
    if (slash != nullptr && slash != account && account[length - 1] == L'$' &&
        account + length - 1 > slash + 1) {
        return ACCOUNT_MANAGED;
    }
    return ACCOUNT_USER;
}

std::wstring serviceStartName(const wchar_t* account) {
    if (account != nullptr && isBuiltInName(account)) {
        return std::wstring(ntAuthority) + account;
    }
    return account != nullptr ? account : L"";
}

const wchar_t* prepareServiceLogon(const wchar_t* account, const wchar_t* password,
                                   CLogger* logger) {
    ServiceAccountKind kind = serviceAccountKind(account);
    if (kind != ACCOUNT_USER && kind != ACCOUNT_MANAGED) {
        // Windows signs these accounts on itself; they hold the right already.
        if (password != nullptr) {
            logger->logMessage(L"The account ", account, L" has no password: -p is not used.");
        }
        return nullptr;
    }
    if (kind == ACCOUNT_MANAGED && password != nullptr) {
        logger->logMessage(L"The account ", account,
                           L" is a managed service account, whose password Windows keeps: -p is "
                           L"not used.");
        password = nullptr;
    }
    if (kind == ACCOUNT_USER && password == nullptr) {
        logger->logMessage(L"The account ", account,
                           L" logs on with its password: give it with -p (without it Windows "
                           L"cannot start the service, error 1069).");
        return nullptr;
    }
    // The whole name: a domain account must never lend its right to a local namesake.
    std::wstring user = accountForLookup(account);
    logger->logMessage(L"Setting logon as a service right on account ", user.c_str());
    NTSTATUS status = SetServiceRightW(user.c_str(), nullptr);
    if (status == 0) {
        logger->logMessage(L"Logon as a service right set successfullly.");
    } else {
        logger->logMessage(L"Failed to set logon as a service right.", static_cast<DWORD>(status));
    }
    return password;
}

DWORD accountSidText(const wchar_t* account, std::wstring& sid) {
    sid.clear();
    if (serviceAccountKind(account) == ACCOUNT_LOCAL_SYSTEM) {
        return 0;
    }
    std::wstring name = accountForLookup(serviceStartName(account).c_str());
    CAccountSid found;
    CLocalText text;
    DWORD error = 0;
    if (!GetAccountSid(nullptr, name.c_str(), found.receive()) ||
        !ConvertSidToStringSidW(found.get(), text.receive())) {
        error = GetLastError();
        if (error == 0) {
            error = ERROR_NONE_MAPPED;
        }
    }
    if (text.isOpen()) {
        sid = text.get();
    }
    return error;
}
