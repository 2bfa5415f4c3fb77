// Process identity for the pipe's server check, and security descriptors in text form.
//
// A token is the uid of its process: the user's SID is the one LookupAccountNameW gives that
// uid, and root's token also holds Administrators, enabled. Descriptors are kept as their text;
// nothing enforces them, the root directory's own permissions already keep other users out.
#include "file_object.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The pseudo-handle of the calling process, as on Windows.
HANDLE const currentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const char descriptorMagic[8] = {'S', 'D', 'D', 'L', 't', 'e', 'x', 't'};

class ProcessQueryObject : public standin::KObject {
  public:
    explicit ProcessQueryObject(pid_t pid) : KObject(ProcessQuery), pid_(pid) {}
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_;
};

class TokenObject : public standin::KObject {
  public:
    explicit TokenObject(uid_t uid) : KObject(Token), uid_(uid) {}
    uid_t uid() const { return uid_; }

  private:
    uid_t uid_;
};

bool processOwner(pid_t pid, uid_t* uid) {
    char path[32];
    snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
    struct stat info;
    if (stat(path, &info) != 0) {
        return false;
    }
    *uid = info.st_uid;
    return true;
}

const std::vector<BYTE>& administrators() {
    static const std::vector<BYTE> sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    return sid;
}

} // namespace

extern "C" HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
    if (access != PROCESS_QUERY_LIMITED_INFORMATION || inheritHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uid_t owner = 0;
    if (processId == 0 || !processOwner(static_cast<pid_t>(processId), &owner)) {
        SetLastError(ERROR_INVALID_PARAMETER); // what Windows answers for an unknown id
        return nullptr;
    }
    return standin::registerHandle(new ProcessQueryObject(static_cast<pid_t>(processId)));
}

extern "C" BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if ((access & TOKEN_QUERY) == 0 ||
        (access & ~(TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE)) != 0 || token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uid_t uid = 0;
    if (process == currentProcess) {
        uid = geteuid();
    } else {
        auto* queried =
            standin::handleAs<ProcessQueryObject>(process, standin::KObject::ProcessQuery);
        if (queried == nullptr) {
            return FALSE;
        }
        if (!processOwner(queried->pid(), &uid)) {
            SetLastError(ERROR_ACCESS_DENIED); // the process has gone
            return FALSE;
        }
    }
    *token = standin::registerHandle(new TokenObject(uid));
    return TRUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                           LPVOID information, DWORD length, PDWORD returnLength) {
    auto* object = standin::handleAs<TokenObject>(token, standin::KObject::Token);
    if (object == nullptr) {
        return FALSE;
    }
    if (returnLength == nullptr || (kind != TokenUser && kind != TokenGroups)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The header first, then the SIDs it points at, all in the caller's buffer.
    std::vector<std::vector<BYTE>> sids;
    if (kind == TokenUser) {
        sids.push_back(standin::userSid(object->uid()));
    } else if (object->uid() == 0) {
        sids.push_back(administrators());
    }
    size_t header = kind == TokenUser
                        ? sizeof(TOKEN_USER)
                        : offsetof(TOKEN_GROUPS, Groups) +
                              (sids.empty() ? 1 : sids.size()) * sizeof(SID_AND_ATTRIBUTES);
    size_t needed = header;
    for (const auto& sid : sids) {
        needed += sid.size();
    }
    *returnLength = static_cast<DWORD>(needed);
    if (information == nullptr || length < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* base = static_cast<BYTE*>(information);
    BYTE* next = base + header;
    if (kind == TokenUser) {
        auto* user = static_cast<TOKEN_USER*>(information);
        memcpy(next, sids[0].data(), sids[0].size());
        user->User.Sid = next;
        user->User.Attributes = 0;
    } else {
        auto* groups = static_cast<TOKEN_GROUPS*>(information);
        groups->GroupCount = static_cast<DWORD>(sids.size());
        for (size_t i = 0; i < sids.size(); ++i) {
            memcpy(next, sids[i].data(), sids[i].size());
            groups->Groups[i].Sid = next;
            groups->Groups[i].Attributes = SE_GROUP_ENABLED;
            next += sids[i].size();
        }
    }
    return TRUE;
}

extern "C" BOOL WINAPI ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
    if (sid == nullptr || text == nullptr || !IsValidSid(sid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring value = standin::sidString(sid);
    auto* copy = static_cast<wchar_t*>(LocalAlloc(0, (value.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    wmemcpy(copy, value.c_str(), value.size() + 1);
    *text = copy;
    return TRUE;
}

extern "C" BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    // Only what the program writes: a DACL of allow entries.
    if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1 ||
        wcsncmp(text, L"D:", 2) != 0 || wcsstr(text, L"(A;") == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t chars = wcslen(text) + 1;
    size_t bytes = sizeof descriptorMagic + chars * sizeof(wchar_t);
    auto* block = static_cast<BYTE*>(LocalAlloc(0, bytes));
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(block, descriptorMagic, sizeof descriptorMagic);
    memcpy(block + sizeof descriptorMagic, text, chars * sizeof(wchar_t));
    *descriptor = block;
    if (size != nullptr) {
        *size = static_cast<ULONG>(bytes);
    }
    return TRUE;
}

extern "C" BOOL WINAPI ConvertSecurityDescriptorToStringSecurityDescriptorW(
    PSECURITY_DESCRIPTOR descriptor, DWORD revision, SECURITY_INFORMATION information, LPWSTR* text,
    PULONG chars) {
    const SECURITY_INFORMATION known = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (!standin::isSecurityDescriptor(descriptor) || revision != SDDL_REVISION_1 ||
        (information & ~known) != 0 || (information & DACL_SECURITY_INFORMATION) == 0 ||
        text == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The text holds "O:owner" (when known) before "D:..."; only the parts asked for are given.
    std::wstring value = standin::descriptorText(descriptor);
    size_t dacl = value.find(L"D:");
    if ((information & OWNER_SECURITY_INFORMATION) == 0 && dacl != std::wstring::npos) {
        value = value.substr(dacl);
    }
    auto* copy = static_cast<wchar_t*>(LocalAlloc(0, (value.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    wmemcpy(copy, value.c_str(), value.size() + 1);
    *text = copy;
    if (chars != nullptr) {
        *chars = static_cast<ULONG>(value.size() + 1);
    }
    return TRUE;
}

namespace {

// What a mode's three bits allow, as the rights of a folder's or file's entry.
std::wstring rightsOf(mode_t bits) {
    DWORD mask = 0;
    if (bits & 4) {
        mask |= 0x120089; // FILE_GENERIC_READ
    }
    if (bits & 2) {
        mask |= 0x120116 | 0x40; // FILE_GENERIC_WRITE, and FILE_DELETE_CHILD for a folder
    }
    if (bits & 1) {
        mask |= 0x1200A0; // FILE_GENERIC_EXECUTE
    }
    wchar_t text[16];
    swprintf(text, 16, L"0x%lx", static_cast<unsigned long>(mask));
    return text;
}

} // namespace

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                                        SECURITY_INFORMATION information, PSID* owner, PSID* group,
                                        PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    const SECURITY_INFORMATION known = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (type != SE_FILE_OBJECT || descriptor == nullptr || owner != nullptr || group != nullptr ||
        dacl != nullptr || sacl != nullptr || (information & ~known) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    standin::FileObject* object = standin::fileFromHandle(handle);
    if (object == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    struct stat info;
    if (fstat(object->fd(), &info) != 0) {
        return standin::errorFromErrno(errno);
    }
    // root is LocalSystem here, and its group the Administrators.
    std::wstring user =
        info.st_uid == 0 ? L"SY" : standin::sidString(standin::userSid(info.st_uid).data());
    std::wstring users = info.st_gid == 0 ? L"BA" : L"S-1-22-2-" + std::to_wstring(info.st_gid);
    std::wstring text;
    if (information & OWNER_SECURITY_INFORMATION) {
        text += L"O:" + user;
    }
    if (information & DACL_SECURITY_INFORMATION) {
        text += L"D:P(A;;FA;;;" + user + L")";
        if ((info.st_mode & 070) != 0) {
            text += L"(A;;" + rightsOf((info.st_mode >> 3) & 7) + L";;;" + users + L")";
        }
        if ((info.st_mode & 07) != 0) {
            text += L"(A;;" + rightsOf(info.st_mode & 7) + L";;;WD)";
        }
    }
    DWORD bytes = standin::writeDescriptor(text, nullptr, 0);
    void* block = LocalAlloc(0, bytes);
    if (block == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    standin::writeDescriptor(text, block, bytes);
    *descriptor = block;
    return ERROR_SUCCESS;
}

namespace standin {

bool isSecurityDescriptor(const void* descriptor) {
    return descriptor != nullptr &&
           memcmp(descriptor, descriptorMagic, sizeof descriptorMagic) == 0;
}

std::wstring descriptorText(const void* descriptor) {
    if (!isSecurityDescriptor(descriptor)) {
        return std::wstring();
    }
    return reinterpret_cast<const wchar_t*>(static_cast<const BYTE*>(descriptor) +
                                            sizeof descriptorMagic);
}

DWORD writeDescriptor(const std::wstring& text, void* buffer, DWORD size) {
    size_t bytes = sizeof descriptorMagic + (text.size() + 1) * sizeof(wchar_t);
    if (buffer != nullptr && size >= bytes) {
        memcpy(buffer, descriptorMagic, sizeof descriptorMagic);
        memcpy(static_cast<BYTE*>(buffer) + sizeof descriptorMagic, text.c_str(),
               (text.size() + 1) * sizeof(wchar_t));
    }
    return static_cast<DWORD>(bytes);
}

} // namespace standin
