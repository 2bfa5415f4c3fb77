// -c: writes the commented template of a configuration file into a new file.
#include "config/config_file.h"
#include "config/skeleton_template.h"

#include "platform/textutil.h"

#include <stdlib.h>
#include <string.h>

int CConfigFile::generateSkeletonFile(const wchar_t* fileName, int unicode) {
    logger->logEntry(L"generateSkeletonFile");
    if (fileName == nullptr || fileName[0] == L'\0') {
        logger->logExit(L"generateSkeletonFile", 0);
        // As for a configuration file to read: no name, nothing done.
        return BRONTEL_RESULT_NO_CONFIG_FILE_NAME;
    }
    int result = 0;
    // CREATE_NEW: an existing file is never overwritten.
    HANDLE file = CreateFileW(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot open file ", fileName);
        logger->logSystemError(error);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    } else {
        logger->logMessage(L"Generating file ", fileName, unicode ? L" using unicode." : L" ");
        result = writeSkeletonFile(file, unicode);
        CloseHandle(file);
    }
    logger->logExit(L"generateSkeletonFile", 0);
    return result;
}

int CConfigFile::writeSkeletonFile(HANDLE file, int unicode) {
    logger->logEntry(L"writeSkeletonFile");
    char* text = buildSkeletonText();
    if (text == nullptr) {
        logger->logMessage(L"Memory error.");
        logger->logExit(L"writeSkeletonFile", 0);
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    int result = 0;
    size_t length = strlen(text);
    const void* out = text;
    size_t outSize = length;
    unsigned char* encoded = nullptr;
    if (unicode) {
        wchar_t* wide = static_cast<wchar_t*>(calloc(length + 1, sizeof(wchar_t)));
        int chars = 0;
        DWORD error = ERROR_NOT_ENOUGH_MEMORY;
        if (wide != nullptr) {
            chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(length),
                                        wide, static_cast<int>(length + 1));
            error = GetLastError();
        }
        size_t bytes = chars > 0 ? utf16leSize(wide, static_cast<size_t>(chars)) : 0;
        encoded = bytes > 0 ? static_cast<unsigned char*>(malloc(bytes)) : nullptr;
        if (encoded != nullptr) {
            utf16leEncode(wide, static_cast<size_t>(chars), encoded);
            out = encoded;
            outSize = bytes;
        } else {
            if (chars > 0) {
                error = ERROR_NOT_ENOUGH_MEMORY;
            }
            logger->logMessage(L"Cannot write file as Unicode ", error);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
        }
        free(wide);
    }
    DWORD written = 0;
    if (!WriteFile(file, out, static_cast<DWORD>(outSize), &written, nullptr)) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot write file ", error);
        logger->logSystemError(error);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    } else if (written != outSize) {
        logger->logMessage(L"Cannot write file ", static_cast<DWORD>(ERROR_DISK_FULL));
        logger->logSystemError(ERROR_DISK_FULL);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    free(encoded);
    free(text);
    logger->logExit(L"writeSkeletonFile", 0);
    return result;
}
