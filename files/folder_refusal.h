// Why a capture folder is refused, in the one wording that the installer's warning and the
// service's refusal to start share.
#ifndef BRONTEL_FILES_FOLDER_REFUSAL_H
#define BRONTEL_FILES_FOLDER_REFUSAL_H

#include <stddef.h>
#include <wchar.h>

// For FILES_LINK, FILES_OTHERS_WRITE and FILES_SECURITY_UNKNOWN: writes the sentence, up to the
// ": " before the folder's name, into `buffer` and returns 1; `atInstall` gives the installer's
// warning of what the start will do, else the service's own refusal. 0 for any other result.
int captureFolderRefusal(int result, int atInstall, wchar_t* buffer, size_t chars);

#endif
