#include "install/path_check.h"

#include "jvm/vm_options.h"
#include "platform/path_list.h"
#include "registry/registry.h"
#include "settings/config_keys.h"

#include <stdlib.h>
#include <string>
#include <wchar.h>

namespace {

const wchar_t classPathOption[] = L"-Djava.class.path=";

// The path with its %NAME% references resolved here; the text as written when memory runs out.
std::wstring resolved(const wchar_t* path) {
    wchar_t* copy = static_cast<wchar_t*>(malloc((wcslen(path) + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        return path;
    }
    wmemcpy(copy, path, wcslen(path) + 1);
    wchar_t* expanded = expandEnvStrings(copy);
    std::wstring text = expanded != nullptr ? expanded : path;
    free(expanded);
    return text;
}

void warnIfMissing(const wchar_t* what, const std::wstring& path, CLogger* logger) {
    if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    std::wstring text = std::wstring(L"Warning: ") + what + L" does not exist here: " + path +
                        L" (installed anyway; the service needs it when it starts).";
    logger->logMessage(text.c_str());
}

void checkClassPath(const wchar_t* entries, CLogger* logger) {
    for (const std::wstring& entry : splitPathList(resolved(entries))) {
        // A wildcard entry names the jars of a folder, not a file.
        if (!entry.empty() && entry[entry.size() - 1] != L'*') {
            warnIfMissing(L"the class path entry", entry, logger);
        }
    }
}

} // namespace

void warnAboutMissingPaths(CConfigFile* config, CLogger* logger) {
    const wchar_t* library = config->getStrOptionValue(CFG_JVM_DLL, nullptr);
    if (library != nullptr) {
        warnIfMissing(L"the jvmDLL file", resolved(library), logger);
    }
    wchar_t key[64];
    for (int n = 1;; ++n) {
        swprintf(key, 64, L"%ls%d", CFG_JVM_OPTION, n);
        const wchar_t* option = config->getStrOptionValue(key, nullptr);
        if (option == nullptr) {
            break;
        }
        if (wcsncmp(option, classPathOption, wcslen(classPathOption)) == 0) {
            checkClassPath(option + wcslen(classPathOption), logger);
        }
    }
    // The program service's jar is read as written: its command line is never resolved.
    wchar_t* jar = programJarOf(config->getStrOptionValue(CFG_SERVICE_CLASS, nullptr),
                                config->getStrOptionValue(CFG_COMMAND_LINE, nullptr));
    if (jar != nullptr) {
        warnIfMissing(L"the -jar file", jar, logger);
        free(jar);
    }
}
