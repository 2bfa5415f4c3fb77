// Writing a whole new file: what -c and -e produce.
#ifndef BRONTEL_CONFIG_NEW_FILE_H
#define BRONTEL_CONFIG_NEW_FILE_H

#include "trace/logger.h"

// Creates `fileName` (never over an existing file) and writes `size` bytes into it; "Generating
// file" is traced once it exists (`unicode` says which encoding the bytes are in). 0, or
// BRONTEL_RESULT_FILE_NOT_WRITTEN with the reason traced: the file cannot be created, the write
// fails, or it is cut short (reported as a full disk).
int writeNewFile(const wchar_t* fileName, const void* bytes, size_t size, int unicode,
                 CLogger* logger);

#endif
