#include "app/tracing_switch.h"

#include "platform/handles.h"
#include "platform/textutil.h"
#include "files/file_results.h"
#include "files/safe_file.h"

void enableTracing(const wchar_t* fileName, CLogger* logger) {
    CRegKey key;
    if (fileName == nullptr || asciiEqualNoCase(fileName, L"OFF")) {
        // Nothing to switch off when the key is missing or cannot be written: stay silent.
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SOFTWARE_KEY, 0, KEY_WRITE, key.receive()) !=
            ERROR_SUCCESS) {
            return;
        }
        LSTATUS rc = RegDeleteValueW(key.get(), BRONTEL_TRACE_VALUE);
        if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
            logger->logMessage(L"Trace disabled.");
        } else {
            logger->logMessage(L"Error disabling trace.  Cannot write to registry.",
                               static_cast<DWORD>(rc));
            logger->logSystemError(static_cast<DWORD>(rc));
        }
        return;
    }

    // Every process, services included, refuses such a file when it opens its trace: said now,
    // while it can still be put right.
    int links = findLinks(fileName);
    if (links == FILES_LINK) {
        logger->logMessage(L"Trace not enabled: the file or a folder on its path is a link: ",
                           fileName);
        return;
    }
    if (links == FILES_HARD_LINK) {
        logger->logMessage(L"Trace not enabled: the file has more than one name (a hard link): ",
                           fileName);
        return;
    }
    LSTATUS rc =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SOFTWARE_KEY, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.receive(), nullptr);
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(L"Cannot open registry to turn on trace.", static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return;
    }
    // Stored as given: a relative name stays relative.
    DWORD size = static_cast<DWORD>((wcslen(fileName) + 1) * sizeof(wchar_t));
    rc = RegSetValueExW(key.get(), BRONTEL_TRACE_VALUE, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(fileName), size);
    if (rc == ERROR_SUCCESS) {
        logger->logMessage(L"Trace enabled.  Logging to file : ", fileName,
                           L" will begin next time a Brontel process starts.");
    } else {
        logger->logMessage(L"Error enabling trace.  Cannot write to registry.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
    }
}
