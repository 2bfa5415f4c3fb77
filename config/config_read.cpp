// Reading a configuration file: ANSI, or UTF-16LE without byte-order mark under -w.
#include "config/config_file.h"

#include "platform/handles.h"
#include "platform/textutil.h"

#include <stdlib.h>
#include <string.h>

namespace {
const DWORD maxFileSize = 0x7FFFFFF0u;
} // namespace

int CConfigFile::parseConfigFile(const wchar_t* fileName, int unicode) {
    logger->logEntry(L"CConfigFile::parseConfigFile");
    if (fileName == nullptr) {
        logger->logMessage(L"missing configuration file");
        logger->logExit(L"CConfigFile::parseConfigFile", 3);
        return BRONTEL_RESULT_NO_CONFIG_FILE_NAME;
    }
    CWinHandle file(CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isOpen()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Cannot open config file : ", fileName);
        logger->logSystemError(error);
        logger->logExit(L"CConfigFile::parseConfigFile", 4);
        return BRONTEL_RESULT_CONFIG_NOT_READ;
    }
    int result = parseFile(file.get(), unicode);
    file.reset(KernelHandleKind::none());
    logger->logExit(L"CConfigFile::parseConfigFile", result);
    return result;
}

int CConfigFile::parseFile(HANDLE file, int unicode) {
    logger->logEntry(L"CConfigFile::parseFile");
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file, &sizeHigh);
    DWORD error = GetLastError();
    if (size == INVALID_FILE_SIZE && error != ERROR_SUCCESS) {
        logger->logMessage(L"Config file is bad ", error);
        logger->logSystemError(error);
        logger->logExit(L"CConfigFile::parseFile", 4);
        return BRONTEL_RESULT_CONFIG_NOT_READ;
    }
    if (size == 0 && sizeHigh == 0) {
        logger->logMessage(L"Empty config file");
        logger->logExit(L"CConfigFile::parseFile", 0);
        return 0;
    }
    // Four zero bytes behind the data terminate it in either encoding. The whole file is held in
    // memory, several times over once decoded: beyond this size there is no room for its text.
    unsigned char* bytes = nullptr;
    if (sizeHigh == 0 && size <= maxFileSize) {
        bytes = static_cast<unsigned char*>(calloc(static_cast<size_t>(size) + 4, 1));
    }
    if (bytes == nullptr) {
        logger->logMessage(L"Memory error.");
        logger->logExit(L"CConfigFile::parseFile", BRONTEL_RESULT_OUT_OF_MEMORY);
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    DWORD read = 0;
    if (!ReadFile(file, bytes, size, &read, nullptr) || read == 0) {
        error = GetLastError();
        if (error == ERROR_SUCCESS) {
            error = ERROR_HANDLE_EOF; // the file shrank to nothing since it was sized
        }
        free(bytes);
        logger->logMessage(L"Cannot read config file ", error);
        logger->logSystemError(error);
        logger->logExit(L"CConfigFile::parseFile", 4);
        return BRONTEL_RESULT_CONFIG_NOT_READ;
    }

    wchar_t* text = nullptr;
    if (!unicode) {
        // The text ends at the first zero byte.
        size_t length = strnlen(reinterpret_cast<char*>(bytes), read);
        int chars = 0;
        if (length > 0) {
            chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<char*>(bytes),
                                        static_cast<int>(length), nullptr, 0);
        }
        if (length == 0) {
            text = static_cast<wchar_t*>(calloc(1, sizeof(wchar_t)));
        } else if (chars > 0) {
            text = static_cast<wchar_t*>(calloc(static_cast<size_t>(chars) + 1, sizeof(wchar_t)));
            if (text != nullptr &&
                MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<char*>(bytes),
                                    static_cast<int>(length), text, chars) != chars) {
                chars = 0;
                free(text);
                text = nullptr;
            }
        }
        if (length > 0 && chars <= 0) {
            error = GetLastError();
            logger->logMessage(L"Cannot convert file to Unicode ", error);
            logger->logSystemError(error);
            // Taken for what it may be instead: UTF-16 text.
            text = utf16leDecode(bytes, (static_cast<size_t>(read) + 1) & ~static_cast<size_t>(1));
        }
    } else {
        // An odd last byte pairs with the zero padding behind it.
        text = utf16leDecode(bytes, (static_cast<size_t>(read) + 1) & ~static_cast<size_t>(1));
    }
    free(bytes);
    if (text == nullptr) {
        logger->logMessage(L"Memory error.");
        logger->logExit(L"CConfigFile::parseFile", BRONTEL_RESULT_OUT_OF_MEMORY);
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    int result = parseBuffer(text);
    free(text);
    logger->logExit(L"CConfigFile::parseFile", result);
    return result;
}
