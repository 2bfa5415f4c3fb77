// A path made absolute (against the current directory, as Windows resolves it) and cut into the
// root it starts from and the names of the folders and file below that root.
#ifndef BRONTEL_FILES_FULL_PATH_H
#define BRONTEL_FILES_FULL_PATH_H

#include "platform/winapi.h"

#include <string>
#include <vector>

// The root keeps its separator: "C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\",
// and "/" on the stand-in. 0, or the Windows error (ERROR_INVALID_NAME for a path without a
// root brontel can open).
DWORD splitFullPath(const wchar_t* path, std::wstring& root, std::vector<std::wstring>& names);
// Where the root of an absolute path ends (0 when it has none): the part split off as the root.
size_t rootLength(const std::wstring& path);
int isPathSeparator(wchar_t c);
// The folder part of a path as written (without its last separator), for messages.
std::wstring folderOf(const wchar_t* path);

#endif
