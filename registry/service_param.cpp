// Reading one value of a service's Parameters key.
#include "platform/textutil.h"
#include "registry/key_path.h"
#include "registry/registry.h"

#include <stdlib.h>

wchar_t* getRegServiceParam(const wchar_t* serviceName, const wchar_t* valueName, CLogger* logger,
                            int logErrors, int expandEnv) {
    wchar_t* path = serviceParametersPath(serviceName);
    if (path == nullptr) {
        return nullptr;
    }
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (rc != ERROR_SUCCESS) {
        if (logErrors) {
            logger->logMessage(L"Cannot open registry key ", path);
            logger->logSystemError(static_cast<DWORD>(rc));
        }
        free(path);
        return nullptr;
    }
    DWORD type = 0;
    DWORD size = 0;
    rc = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) {
        if (logErrors) {
            logger->logMessage(L"Error getting size of value ", valueName);
            logger->logSystemError(static_cast<DWORD>(rc));
        }
        RegCloseKey(key);
        free(path);
        return nullptr;
    }
    // Room for the data and a terminator of our own, so that data stored without its NUL (or
    // with an odd byte count) still ends up a terminated text.
    size_t chars = (static_cast<size_t>(size) + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 2;
    wchar_t* text = static_cast<wchar_t*>(calloc(chars, sizeof(wchar_t)));
    if (text == nullptr) {
        RegCloseKey(key);
        free(path);
        return nullptr;
    }
    DWORD offered = size;
    rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(text), &offered);
    if (rc != ERROR_SUCCESS) {
        // Also when the value grew between the two reads.
        if (logErrors) {
            logger->logMessage(L"Error getting value ", valueName);
            logger->logSystemError(static_cast<DWORD>(rc));
        }
        free(text);
        RegCloseKey(key);
        free(path);
        return nullptr;
    }
    text[chars - 1] = L'\0';
    if (expandEnv) {
        wchar_t* expanded = expandEnvStrings(text);
        free(text);
        text = expanded;
    }
    RegCloseKey(key);
    free(path);
    return text;
}

wchar_t* getRegServiceParameter(const wchar_t* serviceName, const wchar_t* valueName,
                                CLogger* logger) {
    return getRegServiceParam(serviceName, valueName, logger, 1, 1);
}

int getRegServiceFlag(const wchar_t* serviceName, const wchar_t* valueName, CLogger* logger) {
    wchar_t* value = getRegServiceParam(serviceName, valueName, logger, 0, 0);
    int set = value != nullptr && asciiEqualNoCase(value, L"TRUE");
    free(value);
    return set;
}
