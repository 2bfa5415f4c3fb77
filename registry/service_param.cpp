// Reading one value of a service's Parameters key.
#include "platform/handles.h"
#include "platform/textutil.h"
#include "registry/key_path.h"
#include "registry/registry.h"

#include <stdlib.h>

wchar_t* readServiceParam(const wchar_t* serviceName, const wchar_t* valueName, int expandEnv,
                          ServiceParamFailure* failure) {
    wchar_t* path = serviceParametersPath(serviceName);
    wchar_t* text = readRegText(path, valueName, expandEnv, failure);
    free(path);
    return text;
}

wchar_t* readRegText(const wchar_t* path, const wchar_t* valueName, int expandEnv,
                     ServiceParamFailure* failure) {
    failure->step = SERVICE_PARAM_READ;
    failure->status = ERROR_SUCCESS;
    if (path == nullptr) {
        failure->step = SERVICE_PARAM_NO_MEMORY;
        return nullptr;
    }
    CRegKey key;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key.receive());
    if (rc != ERROR_SUCCESS) {
        failure->step = SERVICE_PARAM_OPEN_KEY;
        failure->status = rc;
        return nullptr;
    }
    DWORD type = 0;
    DWORD size = 0;
    rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) {
        failure->step = SERVICE_PARAM_SIZE;
        failure->status = rc;
        return nullptr;
    }
    // Room for the data and a terminator of our own, so that data stored without its NUL (or
    // with an odd byte count) still ends up a terminated text.
    size_t chars = (static_cast<size_t>(size) + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 2;
    wchar_t* text = static_cast<wchar_t*>(calloc(chars, sizeof(wchar_t)));
    if (text == nullptr) {
        failure->step = SERVICE_PARAM_NO_MEMORY;
        return nullptr;
    }
    DWORD offered = size;
    rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<LPBYTE>(text),
                          &offered);
    key.reset(RegistryKeyKind::none());
    if (rc != ERROR_SUCCESS) {
        // Also when the value grew between the two reads.
        failure->step = SERVICE_PARAM_VALUE;
        failure->status = rc;
        free(text);
        return nullptr;
    }
    text[chars - 1] = L'\0';
    if (expandEnv) {
        wchar_t* expanded = expandEnvStrings(text);
        free(text);
        text = expanded;
        if (text == nullptr) {
            failure->step = SERVICE_PARAM_NO_MEMORY;
        }
    }
    return text;
}

void traceServiceParamFailure(const wchar_t* serviceName, const wchar_t* valueName,
                              const ServiceParamFailure& failure, CLogger* logger) {
    switch (failure.step) {
    case SERVICE_PARAM_OPEN_KEY: {
        wchar_t* path = serviceParametersPath(serviceName);
        logger->logMessage(L"Cannot open registry key ", path != nullptr ? path : L"");
        logger->logSystemError(static_cast<DWORD>(failure.status));
        free(path);
        break;
    }
    case SERVICE_PARAM_SIZE:
        logger->logMessage(L"Error getting size of value ", valueName);
        logger->logSystemError(static_cast<DWORD>(failure.status));
        break;
    case SERVICE_PARAM_VALUE:
        logger->logMessage(L"Error getting value ", valueName);
        logger->logSystemError(static_cast<DWORD>(failure.status));
        break;
    default:
        // Read, or memory ran out: nothing the registry could say.
        break;
    }
}

wchar_t* getRegServiceParam(const wchar_t* serviceName, const wchar_t* valueName, CLogger* logger,
                            int logErrors, int expandEnv) {
    ServiceParamFailure failure;
    wchar_t* text = readServiceParam(serviceName, valueName, expandEnv, &failure);
    if (text == nullptr && logErrors) {
        traceServiceParamFailure(serviceName, valueName, failure, logger);
    }
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
