// Files opened by path for a process that may run as LocalSystem (the trace file, the Java VM's
// verbose output): the path is walked from its root, each folder opened within the one before,
// and the file opened within the last; a link anywhere, or a file with another name, is refused.
#ifndef BRONTEL_FILES_SAFE_FILE_H
#define BRONTEL_FILES_SAFE_FILE_H

#include "platform/handles.h"

// Opens the file at `path`, created when missing (folders are not), for `access`. FILES_OK,
// FILES_LINK, FILES_HARD_LINK, or FILES_FAILED with *error.
int openFileNoLinks(const wchar_t* path, ACCESS_MASK access, ULONG share, CWinHandle& file,
                    DWORD* error);
// For a warning given before anything is written: FILES_LINK or FILES_HARD_LINK when the file
// at `path` or a folder on its path is one; FILES_OK otherwise, also for a path that does not
// exist (yet) or cannot be examined.
int findLinks(const wchar_t* path);

#endif
