// The event source registration.
#include "install/capture_install.h"

#include <stdio.h>

namespace {
const size_t keyPathChars = 600;
} // namespace

int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger) {
    wchar_t path[keyPathChars];
    int written = swprintf(path, keyPathChars, L"%ls\\%ls", BRONTEL_EVENT_SOURCES_KEY, serviceName);
    HKEY key = nullptr;
    LSTATUS rc = written < 0
                     ? ERROR_INVALID_NAME
                     : RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile),
                            static_cast<DWORD>((wcslen(messageFile) + 1) * sizeof(wchar_t)));
    }
    if (rc == ERROR_SUCCESS) {
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(L"Cannot register the service as an event source; its events will "
                           L"lack their text in Event Viewer.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    return 1;
}

int unregisterEventSource(const wchar_t* serviceName, CLogger* logger) {
    wchar_t path[keyPathChars];
    int written = swprintf(path, keyPathChars, L"%ls\\%ls", BRONTEL_EVENT_SOURCES_KEY, serviceName);
    if (written < 0) {
        return 0;
    }
    LSTATUS rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        logger->logMessage(L"Cannot remove the service's event source registration.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    return 1;
}
