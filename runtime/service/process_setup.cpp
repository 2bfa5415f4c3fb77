// The service process's environment variables and working directory.
#include "runtime/service/process_setup.h"

#include "platform/handles.h"
#include "platform/textutil.h"
#include "registry/registry.h"
#include "registry/service_strings.h"

#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {
// The variable's name of an entry NAME=VALUE; empty when it names none.
std::wstring nameOf(const std::wstring& item) {
    size_t equals = item.find(L'=');
    return equals == std::wstring::npos ? std::wstring() : item.substr(0, equals);
}

// The Service Control Manager starts the process with the entries set as written, over the
// system's values: PATH=%PATH%;C:\x would then see its own text. Each variable an entry names
// gets back the value the system gives a new process (none when it gives none), so that the
// entries expand as they do under -x.
void restoreSystemValues(const std::vector<std::wstring>& items, CLogger* logger) {
    CWinHandle token;
    CEnvironmentBlock environment;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE,
                          token.receive()) ||
        !CreateEnvironmentBlock(environment.receive(), token.get(), FALSE)) {
        logger->logSystemError(L"Cannot read the system's environment; the service's variables "
                               L"are expanded over the values the service manager set",
                               GetLastError());
        return;
    }
    for (const std::wstring& item : items) {
        std::wstring name = nameOf(item);
        if (name.empty()) {
            continue;
        }
        const wchar_t* value = nullptr;
        for (const wchar_t* entry = static_cast<const wchar_t*>(environment.get());
             *entry != L'\0' && value == nullptr; entry += wcslen(entry) + 1) {
            std::wstring entryName = nameOf(entry);
            if (asciiEqualNoCase(entryName.c_str(), name.c_str())) {
                value = entry + entryName.size() + 1;
            }
        }
        SetEnvironmentVariableW(name.c_str(), value);
    }
}
} // namespace

void applyServiceEnvironment(const wchar_t* serviceName, int underManager, CLogger* logger) {
    std::vector<std::wstring> items;
    if (readServiceStrings(serviceName, REGVAL_ENVIRONMENT, &items) != 0) {
        logger->logMessage(L"Memory error while reading the service's environment variables.");
        return;
    }
    if (underManager && !items.empty()) {
        restoreSystemValues(items, logger);
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
