// Opening a folder one name at a time from the root of its path, each name within the folder
// opened before it and checked on its handle: a link anywhere on the way is found, and no link
// swapped in while walking is followed.
#ifndef BRONTEL_FILES_FOLDER_WALK_H
#define BRONTEL_FILES_FOLDER_WALK_H

#include "platform/handles.h"

#include <string>
#include <vector>

// Rights a held folder keeps: enough to work in it and read its security. Held without sharing
// its deletion, so that nobody can rename or remove it meanwhile.
#define FILES_FOLDER_ACCESS                                                                        \
    (FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE)
#define FILES_FOLDER_SHARE (FILE_SHARE_READ | FILE_SHARE_WRITE)

struct FolderWalk {
    // Folders missing on the way are created with this descriptor; null: never created.
    PSECURITY_DESCRIPTOR createWith;
    // Set when the last folder was created by this walk.
    int created;
};

// Opens root\names[0]\...\names[count - 1] into `folder`. FILES_OK, FILES_LINK, or FILES_FAILED
// with *error (ERROR_PATH_NOT_FOUND for a missing folder that was not to be created).
int walkToFolder(const std::wstring& root, const std::vector<std::wstring>& names, size_t count,
                 FolderWalk* walk, CWinHandle& folder, DWORD* error);

#endif
