#include "install/service_security.h"

#include "files/folder_security.h"
#include "install/logon_right.h"
#include "install/service_account.h"
#include "platform/handles.h"
#include "platform/textutil.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <vector>
#include <wchar.h>

namespace {

// Ordinary users, by SDDL alias and by number. Service logons (SU) keep the right: a service
// under its own account sends controls through brontel -s, its own relay among them.
const wchar_t* const ordinaryUsers[] = {
    L"IU",      L"AU",       L"WD",      L"BU",           L"BG",           L"AN",      L"NU",
    L"S-1-5-4", L"S-1-5-11", L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-32-546", L"S-1-5-7", L"S-1-5-2"};

bool isOrdinaryUser(const std::wstring& sid) {
    for (const wchar_t* known : ordinaryUsers) {
        if (asciiEqualNoCase(sid.c_str(), known)) {
            return true;
        }
    }
    return false;
}

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
        if (end == std::wstring::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// The rights of one entry without SERVICE_USER_DEFINED_CONTROL: two-letter codes ("CR" is the
// one) or a number. False when the rights cannot be read.
bool dropUserControl(const std::wstring& rights, std::wstring& result) {
    if (rights.size() > 2 && rights[0] == L'0' && (rights[1] == L'x' || rights[1] == L'X')) {
        wchar_t* end = nullptr;
        unsigned long mask = wcstoul(rights.c_str() + 2, &end, 16);
        if (end == nullptr || *end != L'\0') {
            return false;
        }
        mask &= ~static_cast<unsigned long>(SERVICE_USER_DEFINED_CONTROL);
        wchar_t text[16];
        swprintf(text, 16, L"0x%lx", mask);
        result = mask != 0 ? text : L"";
        return true;
    }
    if (rights.size() % 2 != 0) {
        return false;
    }
    result.clear();
    for (size_t i = 0; i < rights.size(); i += 2) {
        std::wstring code = rights.substr(i, 2);
        if (code != L"CR") {
            result += code;
        }
    }
    return true;
}

// One entry "(type;flags;rights;object;inherited object;sid...)" with its parentheses; empty
// when nothing is left of it.
std::wstring editEntry(const std::wstring& entry, bool* changed) {
    std::vector<std::wstring> fields = split(entry.substr(1, entry.size() - 2), L';');
    if (fields.size() != 6 || fields[0] != L"A" || !isOrdinaryUser(fields[5])) {
        return entry;
    }
    std::wstring rights;
    if (!dropUserControl(fields[2], rights) || rights == fields[2]) {
        return entry;
    }
    *changed = true;
    if (rights.empty()) {
        return L"";
    }
    fields[2] = rights;
    std::wstring rebuilt = L"(";
    for (size_t i = 0; i < fields.size(); ++i) {
        rebuilt += (i ? L";" : L"") + fields[i];
    }
    return rebuilt + L")";
}

void warn(CLogger* logger, const wchar_t* what, DWORD error, const wchar_t* consequence) {
    logger->logMessage(what, error);
    logger->logSystemError(error);
    logger->logMessage(consequence);
}

const wchar_t controlsStay[] =
    L"The service keeps Windows' default security: interactive users may send it controls 128 "
    L"to 255.";
const wchar_t parametersStay[] = L"The service's Parameters key keeps its default security: "
                                 L"local users may read its values.";

} // namespace

int withoutUserControls(const std::wstring& dacl, std::wstring& result) {
    result = dacl;
    if (dacl.compare(0, 2, L"D:") != 0) {
        return 0;
    }
    std::wstring edited;
    bool changed = false;
    size_t at = 0;
    while (at < dacl.size()) {
        if (dacl[at] != L'(') {
            edited += dacl[at++];
            continue;
        }
        size_t end = sddlEntryEnd(dacl, at);
        if (end == std::wstring::npos) {
            return 0;
        }
        edited += editEntry(dacl.substr(at, end - at + 1), &changed);
        at = end + 1;
    }
    if (changed) {
        result = edited;
    }
    return changed ? 1 : 0;
}

std::wstring parametersKeyDacl(const wchar_t* accountSid) {
    std::wstring dacl = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
    if (accountSid != nullptr && *accountSid != L'\0') {
        dacl += L"(A;CI;KR;;;" + std::wstring(accountSid) + L")";
    }
    return dacl;
}

void restrictUserControls(SC_HANDLE service, CLogger* logger) {
    logger->logEntry(L"CInstaller::restrictUserControls");
    int result = 0;
    DWORD needed = 0;
    std::vector<BYTE> current(256);
    BOOL read = QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, current.data(),
                                           static_cast<DWORD>(current.size()), &needed);
    if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > current.size()) {
        current.resize(needed);
        read = QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, current.data(),
                                          static_cast<DWORD>(current.size()), &needed);
    }
    CLocalText text;
    if (!read ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            current.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.receive(), nullptr)) {
        warn(logger, L"Cannot read the service's security", GetLastError(), controlsStay);
        result = 1;
    }
    std::wstring tightened;
    if (result == 0 && withoutUserControls(text.get(), tightened)) {
        CLocalDescriptor descriptor;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
                tightened.c_str(), SDDL_REVISION_1, descriptor.receive(), nullptr) ||
            !SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.get())) {
            warn(logger, L"Cannot set the service's security", GetLastError(), controlsStay);
            result = 1;
        }
    }
    logger->logExit(L"CInstaller::restrictUserControls", result);
}

void protectParametersKey(const wchar_t* serviceName, const wchar_t* account, CLogger* logger) {
    logger->logEntry(L"CInstaller::protectParametersKey");
    int result = 0;
    std::wstring sidText;
    DWORD error = accountSidText(account, sidText);
    if (error != 0) {
        logger->logMessage(L"Cannot look up the account ", accountForLookup(account).c_str(),
                           L", which must keep reading the service's settings.");
        warn(logger, L"Account lookup failed", error, parametersStay);
        result = 1;
    }
    if (serviceName == nullptr) {
        result = 1;
    }
    if (result == 0) {
        std::wstring dacl = parametersKeyDacl(sidText.c_str());
        wchar_t path[600];
        CRegKey key;
        CLocalDescriptor descriptor;
        LSTATUS rc = swprintf(path, 600, L"%ls\\%ls\\%ls", BRONTEL_SERVICES_KEY, serviceName,
                              BRONTEL_PARAMETERS_SUBKEY) < 0
                         ? ERROR_INVALID_NAME
                         : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, key.receive());
        if (rc == ERROR_SUCCESS &&
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl.c_str(), SDDL_REVISION_1,
                                                                  descriptor.receive(), nullptr)) {
            rc = static_cast<LSTATUS>(GetLastError());
        }
        if (rc == ERROR_SUCCESS) {
            rc = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get());
        }
        if (rc != ERROR_SUCCESS) {
            warn(logger, L"Cannot restrict the service's Parameters key", static_cast<DWORD>(rc),
                 parametersStay);
            result = 1;
        }
    }
    logger->logExit(L"CInstaller::protectParametersKey", result);
}
