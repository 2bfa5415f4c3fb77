#include "files/folder_security.h"

#include "files/file_results.h"
#include "platform/handles.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

const wchar_t localSystem[] = L"S-1-5-18";
const wchar_t administrators[] = L"S-1-5-32-544";

// What lets a holder change what a folder holds or who may: add a file or a folder, delete
// within, change the DACL or the owner, and the generic rights that include those.
const DWORD changeRights = 0x0002 | 0x0004 | 0x0040 | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                           GENERIC_ALL | 0x02000000; // the last: MAXIMUM_ALLOWED

struct RightCode {
    const wchar_t* code;
    DWORD mask;
};
// The rights' two-letter codes of the text form.
const RightCode rightCodes[] = {
    {L"GA", 0x10000000}, {L"GR", 0x80000000}, {L"GW", 0x40000000}, {L"GX", 0x20000000},
    {L"RC", 0x00020000}, {L"SD", 0x00010000}, {L"WD", 0x00040000}, {L"WO", 0x00080000},
    {L"RP", 0x00000010}, {L"WP", 0x00000020}, {L"CC", 0x00000001}, {L"DC", 0x00000002},
    {L"LC", 0x00000004}, {L"SW", 0x00000008}, {L"LO", 0x00000080}, {L"DT", 0x00000040},
    {L"CR", 0x00000100}, {L"FA", 0x001F01FF}, {L"FR", 0x00120089}, {L"FW", 0x00120116},
    {L"FX", 0x001200A0}, {L"KA", 0x000F003F}, {L"KR", 0x00020019}, {L"KW", 0x00020006},
    {L"KX", 0x00020019},
};

struct Alias {
    const wchar_t* alias;
    const wchar_t* sid;
};
// Aliases of the accounts a service may run as; any other alias names a group or a well-known
// identity that is never trusted.
const Alias aliases[] = {
    {L"SY", localSystem}, {L"BA", administrators}, {L"LS", L"S-1-5-19"}, {L"NS", L"S-1-5-20"}};

std::wstring canonicalSid(const std::wstring& text) {
    for (const Alias& alias : aliases) {
        if (text == alias.alias) {
            return alias.sid;
        }
    }
    return text;
}

bool trustedSid(const std::wstring& text, const std::vector<std::wstring>& trusted) {
    std::wstring sid = canonicalSid(text);
    for (const std::wstring& one : trusted) {
        if (sid == canonicalSid(one)) {
            return true;
        }
    }
    return false;
}

// A rights field: "0x..." or decimal digits, or two-letter codes. False when unreadable.
bool parseRights(const std::wstring& text, DWORD* mask) {
    if (text.empty()) {
        return false;
    }
    if (text[0] >= L'0' && text[0] <= L'9') {
        wchar_t* end = nullptr;
        unsigned long value = wcstoul(text.c_str(), &end, 0);
        *mask = static_cast<DWORD>(value);
        return end != nullptr && *end == L'\0';
    }
    if (text.size() % 2 != 0) {
        return false;
    }
    *mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        bool known = false;
        for (const RightCode& right : rightCodes) {
            if (text.compare(i, 2, right.code) == 0) {
                *mask |= right.mask;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> fields(const std::wstring& entry) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t end = entry.find(L';', start);
        parts.push_back(entry.substr(start, end == std::wstring::npos ? end : end - start));
        if (end == std::wstring::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// One entry's fields: FILES_OK when it lets nobody untrusted change the folder.
int judgeEntry(const std::wstring& entry, const std::vector<std::wstring>& trusted) {
    std::vector<std::wstring> parts = fields(entry);
    if (parts.size() < 6) {
        return FILES_SECURITY_UNKNOWN;
    }
    const std::wstring& type = parts[0];
    bool allows = type == L"A" || type == L"OA" || type == L"XA" || type == L"ZA";
    if (!allows) {
        return FILES_OK; // denials and audits grant nothing
    }
    // An entry only for what is created within does not apply to the folder itself.
    const std::wstring& flags = parts[1];
    for (size_t i = 0; i + 1 < flags.size(); i += 2) {
        if (flags.compare(i, 2, L"IO") == 0) {
            return FILES_OK;
        }
    }
    DWORD mask = 0;
    if (!parseRights(parts[2], &mask)) {
        return FILES_SECURITY_UNKNOWN;
    }
    if ((mask & changeRights) == 0 || trustedSid(parts[5], trusted)) {
        return FILES_OK;
    }
    return FILES_OTHERS_WRITE;
}

} // namespace

std::vector<std::wstring> trustedWriters(const std::wstring& account) {
    std::vector<std::wstring> trusted = {localSystem, administrators};
    if (!account.empty()) {
        trusted.push_back(account);
    }
    return trusted;
}

DWORD processUserSid(std::wstring& sid) {
    CWinHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
        return GetLastError();
    }
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    void* user = needed != 0 ? malloc(needed) : nullptr;
    DWORD error = user == nullptr ? static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY) : 0;
    CLocalText text;
    if (error == 0 &&
        (!GetTokenInformation(token.get(), TokenUser, user, needed, &needed) ||
         !ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user)->User.Sid, text.receive()))) {
        error = GetLastError();
    }
    if (text.isOpen()) {
        sid = text.get();
    }
    free(user);
    return error;
}

size_t sddlEntryEnd(const std::wstring& sddl, size_t at) {
    // A conditional entry nests parentheses: the entry ends where they balance.
    int depth = 0;
    for (size_t end = at; end < sddl.size(); ++end) {
        depth += sddl[end] == L'(' ? 1 : sddl[end] == L')' ? -1 : 0;
        if (depth == 0) {
            return end;
        }
    }
    return std::wstring::npos;
}

int judgeFolderSddl(const std::wstring& sddl, const std::vector<std::wstring>& trusted) {
    // "O:owner" ends where the next part ("G:", "D:" or "S:") begins.
    if (sddl.compare(0, 2, L"O:") != 0) {
        return FILES_SECURITY_UNKNOWN;
    }
    size_t ownerEnd = 2;
    while (ownerEnd + 1 < sddl.size() && sddl[ownerEnd + 1] != L':') {
        ++ownerEnd;
    }
    if (ownerEnd + 1 >= sddl.size() || ownerEnd == 2) {
        return FILES_SECURITY_UNKNOWN;
    }
    // An owner may always change the DACL.
    if (!trustedSid(sddl.substr(2, ownerEnd - 2), trusted)) {
        return FILES_OTHERS_WRITE;
    }
    size_t dacl = sddl.find(L"D:", ownerEnd);
    if (dacl == std::wstring::npos) {
        return FILES_SECURITY_UNKNOWN;
    }
    size_t at = dacl + 2;
    size_t firstEntry = sddl.find(L'(', at);
    std::wstring flags =
        sddl.substr(at, firstEntry == std::wstring::npos ? std::wstring::npos : firstEntry - at);
    if (flags.find(L"NO_ACCESS_CONTROL") != std::wstring::npos) {
        return FILES_OTHERS_WRITE; // no DACL: everyone may do everything
    }
    at = firstEntry;
    while (at != std::wstring::npos && at < sddl.size() && sddl[at] == L'(') {
        size_t end = sddlEntryEnd(sddl, at);
        if (end == std::wstring::npos) {
            return FILES_SECURITY_UNKNOWN;
        }
        int judged = judgeEntry(sddl.substr(at + 1, end - at - 1), trusted);
        if (judged != FILES_OK) {
            return judged;
        }
        at = end + 1;
    }
    return FILES_OK;
}

int checkFolderWriters(HANDLE folder, const std::vector<std::wstring>& trusted, DWORD* error) {
    CLocalDescriptor descriptor;
    DWORD failed = GetSecurityInfo(folder, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, nullptr, nullptr, descriptor.receive());
    CLocalText text;
    if (failed == 0 &&
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, text.receive(), nullptr)) {
        failed = GetLastError();
    }
    descriptor.reset(nullptr);
    if (failed != 0) {
        *error = failed;
        return FILES_SECURITY_UNKNOWN;
    }
    int judged = judgeFolderSddl(text.get(), trusted);
    if (judged == FILES_SECURITY_UNKNOWN) {
        *error = ERROR_INVALID_DATA; // a security text brontel cannot read is not trusted
    }
    return judged;
}

DWORD protectedDescriptor(const std::wstring& account, int forFolder,
                          PSECURITY_DESCRIPTOR* descriptor) {
    const wchar_t* inherit = forFolder ? L"OICI" : L"";
    std::wstring text = L"D:P";
    for (const std::wstring& sid : trustedWriters(account)) {
        text += L"(A;" + std::wstring(inherit) + L";FA;;;" + sid + L")";
    }
    *descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              descriptor, nullptr)) {
        return GetLastError();
    }
    return 0;
}
