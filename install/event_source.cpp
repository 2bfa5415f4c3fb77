// Registering and removing the service's event source, never another program's.
#include "install/event_source.h"

#include "platform/handles.h"
#include "platform/textutil.h"
#include "registry/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

const size_t keyPathChars = 600;
// EventMessageFile is the program's path, which the image path (up to 1999 characters) holds:
// a longer one read short would make the service's own source look like another program's.
const DWORD messageFileChars = 2000;

enum SourceOwner { SOURCE_NONE, SOURCE_OWN, SOURCE_FOREIGN };

int sourceKeyPath(const wchar_t* serviceName, wchar_t (&path)[keyPathChars]) {
    int written = swprintf(path, keyPathChars, L"%ls\\%ls", BRONTEL_EVENT_SOURCES_KEY,
                           serviceName != nullptr ? serviceName : L"");
    return written > 0;
}

// Who the source of the service's name belongs to; `messageFile` gets its message file as
// stored (empty when it has none).
SourceOwner sourceOwner(const wchar_t* path, const wchar_t* program,
                        wchar_t (&messageFile)[messageFileChars]) {
    messageFile[0] = L'\0';
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key.receive()) !=
        ERROR_SUCCESS) {
        return SOURCE_NONE;
    }
    key.reset(RegistryKeyKind::none());
    // A source without a message file is somebody's, not one brontel wrote.
    if (getRegStrValue(HKEY_LOCAL_MACHINE, path, nullptr, L"EventMessageFile", messageFile,
                       sizeof messageFile) == nullptr) {
        messageFile[0] = L'\0';
        return SOURCE_FOREIGN;
    }
    return isBrontelMessageFile(messageFile, program) ? SOURCE_OWN : SOURCE_FOREIGN;
}

const wchar_t* shownFile(const wchar_t* messageFile) {
    return messageFile[0] != L'\0' ? messageFile : L"(no message file)";
}

} // namespace

int isBrontelMessageFile(const wchar_t* messageFile, const wchar_t* program) {
    if (messageFile == nullptr || messageFile[0] == L'\0') {
        return 0;
    }
    size_t length = wcslen(messageFile);
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        return 0;
    }
    wmemcpy(copy, messageFile, length + 1);
    wchar_t* file = expandEnvStrings(copy);
    if (file == nullptr) {
        return 0;
    }
    int own = program != nullptr && asciiEqualNoCase(file, program);
    if (!own) {
        const wchar_t* name = file;
        for (const wchar_t* p = file; *p != L'\0'; ++p) {
            if (*p == L'\\' || *p == L'/') {
                name = p + 1;
            }
        }
        own = asciiEqualNoCase(name, L"brontel") || asciiEqualNoCase(name, L"brontel.exe");
    }
    free(file);
    return own;
}

int registerEventSource(const wchar_t* serviceName, const wchar_t* messageFile, CLogger* logger) {
    wchar_t path[keyPathChars];
    wchar_t existing[messageFileChars];
    if (!sourceKeyPath(serviceName, path)) {
        logger->logMessage(L"Cannot register the service as an event source; its events will "
                           L"lack their text in Event Viewer.",
                           static_cast<DWORD>(ERROR_INVALID_NAME));
        return 0;
    }
    if (sourceOwner(path, messageFile, existing) == SOURCE_FOREIGN) {
        // Taking it over would give that program's events brontel's texts, and removal would
        // delete its registration.
        std::wstring warning = std::wstring(L"Warning: the event source ") + serviceName +
                               L" of the Application log belongs to another program (message "
                               L"file " +
                               shownFile(existing) +
                               L"); it is left as it is, and the service's events will show "
                               L"with that program's texts.";
        logger->logMessage(warning.c_str());
        return 0;
    }
    CRegKey key;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE, nullptr, key.receive(), nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile),
                            static_cast<DWORD>((wcslen(messageFile) + 1) * sizeof(wchar_t)));
    }
    if (rc == ERROR_SUCCESS) {
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    key.reset(RegistryKeyKind::none());
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(L"Cannot register the service as an event source; its events will "
                           L"lack their text in Event Viewer.",
                           static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        return 0;
    }
    return 1;
}

int unregisterEventSource(const wchar_t* serviceName, const wchar_t* program, CLogger* logger) {
    wchar_t path[keyPathChars];
    if (!sourceKeyPath(serviceName, path)) {
        return 0;
    }
    wchar_t existing[messageFileChars];
    SourceOwner owner = sourceOwner(path, program, existing);
    if (owner == SOURCE_NONE) {
        return 1;
    }
    if (owner == SOURCE_FOREIGN) {
        logger->logMessage(L"The event source ", serviceName,
                           L" belongs to another program and is left in place.");
        return 1;
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
