// -c: writes the commented template of a configuration file into a new file.
#include "config/config_file.h"
#include "config/new_file.h"
#include "config/skeleton_template.h"

#include "platform/result_codes.h"
#include "platform/textutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The template's ASCII text as UTF-16LE bytes (free() them); null with `error` set on failure.
unsigned char* encodeUnicode(const char* text, size_t length, size_t* size, DWORD* error) {
    wchar_t* wide = static_cast<wchar_t*>(calloc(length + 1, sizeof(wchar_t)));
    int chars = 0;
    *error = ERROR_NOT_ENOUGH_MEMORY;
    if (wide != nullptr) {
        chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(length), wide,
                                    static_cast<int>(length + 1));
        *error = GetLastError();
    }
    *size = chars > 0 ? utf16leSize(wide, static_cast<size_t>(chars)) : 0;
    unsigned char* encoded = *size > 0 ? static_cast<unsigned char*>(malloc(*size)) : nullptr;
    if (encoded != nullptr) {
        utf16leEncode(wide, static_cast<size_t>(chars), encoded);
    } else if (chars > 0) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
    }
    free(wide);
    return encoded;
}

} // namespace

int CConfigFile::generateSkeletonFile(const wchar_t* fileName, int unicode) {
    logger->logEntry(L"generateSkeletonFile");
    if (fileName == nullptr || fileName[0] == L'\0') {
        logger->logExit(L"generateSkeletonFile", 0);
        // As for a configuration file to read: no name, nothing done.
        return BRONTEL_RESULT_NO_CONFIG_FILE_NAME;
    }
    // Built before the file is created, so that a failure leaves no empty file behind.
    char* text = buildSkeletonText();
    int result = 0;
    if (text == nullptr) {
        logger->logMessage(L"Memory error.");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else if (!unicode) {
        result = writeNewFile(fileName, text, strlen(text), unicode, logger);
    } else {
        size_t size = 0;
        DWORD error = ERROR_SUCCESS;
        unsigned char* encoded = encodeUnicode(text, strlen(text), &size, &error);
        if (encoded == nullptr) {
            logger->logMessage(L"Cannot write file as Unicode ", error);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
        } else {
            result = writeNewFile(fileName, encoded, size, unicode, logger);
        }
        free(encoded);
    }
    free(text);
    logger->logExit(L"generateSkeletonFile", 0);
    return result;
}
