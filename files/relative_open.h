// Opening, renaming and deleting within a folder held by its handle: no path is looked up again,
// so nobody can swap a folder on the way for a link between a check and the use.
#ifndef BRONTEL_FILES_RELATIVE_OPEN_H
#define BRONTEL_FILES_RELATIVE_OPEN_H

#include "platform/handles.h"

// Opens `name` (a single name) in `folder`; a link there is opened as itself, never followed.
// disposition: FILE_OPEN or FILE_CREATE; kind: FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE;
// security: the descriptor of a new file or folder (null: the folder's inherited rights).
// 0, or the Windows error (ERROR_FILE_NOT_FOUND when it does not exist, ERROR_ALREADY_EXISTS
// when FILE_CREATE finds something of that name).
DWORD openInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG kind, PSECURITY_DESCRIPTOR security,
                   CWinHandle& opened);
// Opens the folder held by `folder` once more, as a handle of its own: a listing through it
// starts fresh (a handle's listing may keep what it read first). 0 or the Windows error.
DWORD reopenFolder(HANDLE folder, ACCESS_MASK access, ULONG share, CWinHandle& opened);
// Renames what `item` (opened with DELETE access) is into `folder` as `newName`, replacing what
// has that name when `replace` is set (a link there is replaced, never followed). 0 or the
// Windows error.
DWORD renameIntoFolder(HANDLE item, HANDLE folder, const wchar_t* newName, int replace);
// Deletes what `item` (opened with DELETE access) is, whatever its name. 0 or the Windows error.
DWORD deleteOpened(HANDLE item);

#endif
