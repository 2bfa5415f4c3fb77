// The service process's environment variables and working directory.
#include "runtime/service/process_setup.h"

#include "registry/registry.h"
#include "registry/service_strings.h"

#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

void applyServiceEnvironment(const wchar_t* serviceName, CLogger* logger) {
    std::vector<std::wstring> items;
    if (readServiceStrings(serviceName, REGVAL_ENVIRONMENT, &items) != 0) {
        logger->logMessage(L"Memory error while reading the service's environment variables.");
        return;
    }
    for (const std::wstring& item : items) {
        size_t equals = item.find(L'=');
        // Installation refuses these; one written by hand is passed over as Windows does.
        if (equals == std::wstring::npos || equals == 0) {
            logger->logMessage(L"The environment entry ", item.c_str(),
                               L" names no variable; it is ignored.");
            continue;
        }
        std::wstring name = item.substr(0, equals);
        std::wstring value = item.substr(equals + 1);
        wchar_t* expanded = expandEnvStrings(&value[0]);
        if (expanded == nullptr) {
            logger->logMessage(L"Memory error while expanding the environment variable ",
                               name.c_str());
            continue;
        }
        if (!SetEnvironmentVariableW(name.c_str(), expanded)) {
            logger->logSystemError(L"Cannot set the environment variable", GetLastError());
            logger->logMessage(L"The variable: ", name.c_str());
        }
        free(expanded);
    }
}

int enterWorkingDirectory(const CServiceSettings& settings, CLogger* logger) {
    const wchar_t* folder = settings.text(CFG_WORKING_DIRECTORY);
    if (folder == nullptr) {
        return 0;
    }
    if (!SetCurrentDirectoryW(folder)) {
        DWORD error = GetLastError();
        logger->logMessage(L"The working directory ", folder,
                           L" cannot be entered; the service does not start.");
        logger->logSystemError(error);
        return BRONTEL_RESULT_WORKING_DIRECTORY;
    }
    logger->logMessage(L"Working directory: ", folder);
    return 0;
}
