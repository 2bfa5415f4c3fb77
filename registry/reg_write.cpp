// Writing registry values: one string value of an open key, and a service's Parameters values.
#include "platform/handles.h"
#include "registry/key_path.h"
#include "registry/registry.h"

#include <stdlib.h>

int regWriteResult(LSTATUS rc, const wchar_t* valueName, CLogger* logger) {
    if (rc == ERROR_SUCCESS) {
        return 0;
    }
    logger->logMessage(L"Error setting value in registry for ", valueName);
    logger->logMessage(L"Error code: ", static_cast<DWORD>(rc));
    logger->logSystemError(static_cast<DWORD>(rc));
    return BRONTEL_RESULT_REGISTRY_NOT_WRITTEN;
}

int setRegStrValue(HKEY key, const wchar_t* valueName, const wchar_t* value, CLogger* logger) {
    size_t chars = wcslen(value) + 1;
    LSTATUS rc = ERROR_INVALID_PARAMETER;
    // A text too long for a registry value is refused here rather than cut by the size cast.
    if (chars <= 0x7FFFFFFFu / sizeof(wchar_t)) {
        rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(chars * sizeof(wchar_t)));
    }
    return regWriteResult(rc, valueName, logger);
}

int setRegServiceParameter(const wchar_t* serviceName, const wchar_t* valueName,
                           const wchar_t* value, CLogger* logger) {
    wchar_t* path = serviceParametersPath(serviceName);
    if (path == nullptr) {
        logger->logMessage(L"Memory Error in setRegServiceParameter");
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    CRegKey key;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE, nullptr, key.receive(), nullptr);
    if (rc != ERROR_SUCCESS) {
        logger->logMessage(
            L"Cannot open registry to save config information.  Service will not run correctly.",
            static_cast<DWORD>(rc));
        logger->logSystemError(static_cast<DWORD>(rc));
        free(path);
        return BRONTEL_RESULT_REGISTRY_NOT_WRITTEN;
    }
    int result = 0;
    if (value == nullptr) {
        // A value that is not there is already deleted.
        RegDeleteValueW(key.get(), valueName);
    } else {
        result = setRegStrValue(key.get(), valueName, value, logger);
    }
    free(path);
    return result;
}
