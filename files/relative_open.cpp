// The native calls take a name relative to a folder handle (NtCreateFile's RootDirectory), which
// the Windows file functions do not offer. The rename goes to the native call as well:
// SetFileInformationByHandle's rename ignores RootDirectory under Wine and resolves a bare name
// against the current directory there.
#include "files/relative_open.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {
// Windows 10's deletion that removes the name at once, spelt out: the headers for the oldest
// supported Windows do not declare it, and older systems refuse it.
const int dispositionInfoEx = 21; // FileDispositionInfoEx
struct DispositionInfoEx {
    DWORD Flags;
};
const DWORD dispositionDelete = 0x1;         // FILE_DISPOSITION_FLAG_DELETE
const DWORD dispositionPosixSemantics = 0x2; // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS

DWORD windowsError(NTSTATUS status) {
    return status >= 0 ? 0 : static_cast<DWORD>(RtlNtStatusToDosError(status));
}

// NtCreateFile within `folder`; an empty name opens the folder itself again.
DWORD openRelative(HANDLE folder, const wchar_t* name, size_t chars, ACCESS_MASK access,
                   ULONG share, ULONG disposition, ULONG kind, PSECURITY_DESCRIPTOR security,
                   CWinHandle& opened) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name);
    text.Length = static_cast<USHORT>(chars * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, security);
    IO_STATUS_BLOCK status;
    memset(&status, 0, sizeof status);
    HANDLE handle = INVALID_HANDLE_VALUE;
    NTSTATUS result = NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, kind | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    DWORD error = windowsError(result);
    if (error == 0) {
        opened.reset(handle);
    }
    return error;
}
} // namespace

DWORD openInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG kind, PSECURITY_DESCRIPTOR security,
                   CWinHandle& opened) {
    size_t chars = wcslen(name);
    if (chars == 0 || chars * sizeof(wchar_t) > 0xFFF0) {
        return ERROR_INVALID_NAME;
    }
    return openRelative(folder, name, chars, access, share, disposition, kind, security, opened);
}

DWORD reopenFolder(HANDLE folder, ACCESS_MASK access, ULONG share, CWinHandle& opened) {
    return openRelative(folder, L"", 0, access, share, FILE_OPEN, FILE_DIRECTORY_FILE, nullptr,
                        opened);
}

DWORD renameIntoFolder(HANDLE item, HANDLE folder, const wchar_t* newName, int replace) {
    size_t chars = wcslen(newName);
    size_t bytes = sizeof(FILE_RENAME_INFORMATION) + chars * sizeof(wchar_t);
    FILE_RENAME_INFORMATION* rename = static_cast<FILE_RENAME_INFORMATION*>(calloc(1, bytes));
    if (rename == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(chars * sizeof(wchar_t));
    memcpy(rename->FileName, newName, chars * sizeof(wchar_t));
    IO_STATUS_BLOCK status;
    memset(&status, 0, sizeof status);
    NTSTATUS result = NtSetInformationFile(item, &status, rename, static_cast<ULONG>(bytes),
                                           FileRenameInformation);
    free(rename);
    return windowsError(result);
}

DWORD deleteOpened(HANDLE item) {
    // The name goes at once where the system can (a reader holding the file open does not keep
    // it); older systems know only the deletion that waits for the last handle.
    DispositionInfoEx now;
    now.Flags = dispositionDelete | dispositionPosixSemantics;
    if (SetFileInformationByHandle(item, static_cast<FILE_INFO_BY_HANDLE_CLASS>(dispositionInfoEx),
                                   &now, sizeof now)) {
        return 0;
    }
    FILE_DISPOSITION_INFO later;
    later.DeleteFile = TRUE;
    if (SetFileInformationByHandle(item, FileDispositionInfo, &later, sizeof later)) {
        return 0;
    }
    return GetLastError();
}
