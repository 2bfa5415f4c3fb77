// Checks of what a handle has opened, made on the handle itself after the open, so that nothing
// can change between the check and the use.
#ifndef BRONTEL_FILES_HANDLE_CHECKS_H
#define BRONTEL_FILES_HANDLE_CHECKS_H

#include "platform/winapi.h"

#include <string>

// Where the handle's file or folder is now, without a trailing separator. 0 or the error.
DWORD finalPathOf(HANDLE item, std::wstring& path);
// `item`, just opened as `name` in `folder`: FILES_LINK when it is a link (a reparse point), or
// when it is not `name` directly in `folder` (a system that followed a link although told not
// to); FILES_HARD_LINK when a file has another name too; FILES_FAILED (*error set) when it is
// not of the kind wanted (wantFolder) or cannot be examined; FILES_OK otherwise.
int checkOpenedItem(HANDLE folder, HANDLE item, const wchar_t* name, int wantFolder, DWORD* error);
// 1 when both handles have opened the same file or folder, 0 when not or unknown.
int sameObject(HANDLE first, HANDLE second);

#endif
