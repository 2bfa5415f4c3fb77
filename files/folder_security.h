// Who may change a folder, read from its security in text form, and the security brontel gives
// the folders and files it creates for a service: LocalSystem, Administrators and the service's
// account, nobody else, inherited from no parent.
#ifndef BRONTEL_FILES_FOLDER_SECURITY_H
#define BRONTEL_FILES_FOLDER_SECURITY_H

#include "platform/winapi.h"

#include <string>
#include <vector>

// The identifiers (SID texts) that may own and change a folder brontel writes into:
// LocalSystem, Administrators and `account` (a SID text; none when empty).
std::vector<std::wstring> trustedWriters(const std::wstring& account);
// The SID text of this process's user (a service's account). 0 or the Windows error.
DWORD processUserSid(std::wstring& sid);

// Where the access entry of an SDDL text that opens at `at` ("(") closes, its parentheses
// balanced; npos when they never do.
size_t sddlEntryEnd(const std::wstring& sddl, size_t at);

// FILES_OK when the folder's owner and everyone its DACL allows to add, remove or rename what it
// holds, or to change its security or owner, are among `trusted`; FILES_OTHERS_WRITE when
// anyone else is; FILES_SECURITY_UNKNOWN (*error set) when its security cannot be read.
int checkFolderWriters(HANDLE folder, const std::vector<std::wstring>& trusted, DWORD* error);
// The same judgement of a security descriptor in text form ("O:...D:..."); a text that cannot
// be read is FILES_SECURITY_UNKNOWN.
int judgeFolderSddl(const std::wstring& sddl, const std::vector<std::wstring>& trusted);

// A protected descriptor granting full control to LocalSystem, Administrators and `account`
// (inherited by what is created within, for a folder). 0 or the Windows error; LocalFree it.
DWORD protectedDescriptor(const std::wstring& account, int forFolder,
                          PSECURITY_DESCRIPTOR* descriptor);

#endif
