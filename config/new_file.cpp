#include "config/new_file.h"

#include "config/config_file.h"
#include "platform/handles.h"

int writeNewFile(const wchar_t* fileName, const void* bytes, size_t size, int unicode,
                 CLogger* logger) {
    // CREATE_NEW: an existing file is never overwritten.
    CWinHandle file(CreateFileW(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isOpen()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot open file ", fileName);
        logger->logSystemError(error);
        return BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    logger->logMessage(L"Generating file ", fileName, unicode ? L" using unicode." : L" ");
    int result = 0;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, static_cast<DWORD>(size), &written, nullptr)) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot write file ", error);
        logger->logSystemError(error);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    } else if (written != size) {
        logger->logMessage(L"Cannot write file ", static_cast<DWORD>(ERROR_DISK_FULL));
        logger->logSystemError(ERROR_DISK_FULL);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    return result;
}
