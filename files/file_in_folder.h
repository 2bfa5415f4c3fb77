// A file opened, or created, by name within a folder held by its handle, and checked on its own
// handle before anyone writes into it.
#ifndef BRONTEL_FILES_FILE_IN_FOLDER_H
#define BRONTEL_FILES_FILE_IN_FOLDER_H

#include "platform/handles.h"

// Opens `name` in `folder`, creating it with `security` (null: the folder's inherited rights)
// when it does not exist; what exists is opened as it is, never through a link. FILES_OK,
// FILES_LINK, FILES_HARD_LINK, or FILES_FAILED with *error. *created tells whether it is new.
int openFileInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                     PSECURITY_DESCRIPTOR security, CWinHandle& file, DWORD* error, int* created);
// Opens an existing `name` in `folder` as it is (for renaming or deleting it), checked the same
// way; FILES_FAILED with ERROR_FILE_NOT_FOUND when there is none.
int openExistingInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                         CWinHandle& file, DWORD* error);

#endif
