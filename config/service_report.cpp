// -d and -e: the settings of an installed service in configuration-file form, on the console
// or in a new file.
#include "config/config_file.h"
#include "config/new_file.h"

#include "platform/textutil.h"
#include "platform/result_codes.h"
#include "registry/image_path.h"
#include "registry/service_manager.h"
#include "registry/service_strings.h"
#include "settings/config_keys.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The trace switch's file name is read into this many characters (4000 bytes of UTF-16).
const size_t valueChars = 2000;
const DWORD notPresent = 0xFFFFFFFF;

// The report being built; once memory runs out it stays failed and holds nothing.
class Report {
  public:
    Report() : text(nullptr), capacity(0), failed(false) {}
    ~Report() { free(text); }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    void addLine(const wchar_t* key, const wchar_t* value) {
        const wchar_t* pieces[] = {key, L"=", value, L"\n"};
        for (const wchar_t* piece : pieces) {
            if (failed) {
                return;
            }
            text = appendText(text, &capacity, piece);
            failed = text == nullptr && piece[0] != L'\0';
        }
    }
    const wchar_t* get() const { return failed ? nullptr : text; }

  private:
    wchar_t* text;
    unsigned long capacity;
    bool failed;
};

// A Parameters value as its line; a missing value gives no line.
void addParameter(Report& report, const wchar_t* serviceName, const wchar_t* key,
                  const wchar_t* valueName, CLogger* logger, int logErrors, int expandEnv) {
    wchar_t* value = getRegServiceParam(serviceName, valueName, logger, logErrors, expandEnv);
    if (value != nullptr) {
        report.addLine(key, value);
        free(value);
    }
}

// A value of the service key as its line, read as the key's kind is stored there.
void addServiceValue(Report& report, const ConfigKey& key, const wchar_t* serviceName) {
    const wchar_t* services = BRONTEL_SERVICES_KEY;
    switch (key.kind) {
    case CONFIG_KIND_FLAG: {
        // A bit of a number: only the interactive bit of "Type" is a flag there.
        DWORD type =
            getRegDwValue(HKEY_LOCAL_MACHINE, services, serviceName, key.valueName, notPresent);
        if (type != notPresent && (type & BRONTEL_INTERACTIVE_TYPE_BIT) != 0) {
            report.addLine(key.configName, L"TRUE");
        }
        return;
    }
    case CONFIG_KIND_CHOICE: {
        DWORD number =
            getRegDwValue(HKEY_LOCAL_MACHINE, services, serviceName, key.valueName, notPresent);
        if ((number & ~0xFFu) != 0) {
            return;
        }
        // The Service Control Manager keeps the delayed start apart from the start type.
        if (number == SERVICE_AUTO_START && wcscmp(key.valueName, REGVAL_START) == 0 &&
            isDelayedAutoStart(serviceName)) {
            number |= 0x100;
        }
        const wchar_t* name = configChoiceName(key, number);
        if (name != nullptr) {
            report.addLine(key.configName, name);
        }
        return;
    }
    case CONFIG_KIND_LIST: {
        // Read whole: a long list (or description below) left out would not install again.
        std::wstring list = readServiceList(serviceName, key.valueName, L',');
        if (!list.empty()) {
            report.addLine(key.configName, list.c_str());
        }
        return;
    }
    default: {
        int present = 0;
        std::wstring text = readServiceText(serviceName, key.valueName, &present);
        if (!present) {
            return;
        }
        // The only path there is the image path, which holds the program and its arguments.
        if (key.kind == CONFIG_KIND_PATH) {
            cutImageProgram(&text[0]);
            text.resize(wcslen(text.c_str()));
        }
        // A text at its default (the account LocalSystem) is what an absent key gives.
        if (key.kind != CONFIG_KIND_TEXT || key.defaultValue == nullptr ||
            !asciiEqualNoCase(text.c_str(), key.defaultValue)) {
            report.addLine(key.configName, text.c_str());
        }
        return;
    }
    }
}

void buildReport(Report& report, const wchar_t* serviceName, CLogger* logger, int toConsole) {
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& key = configKeys[i];
        if ((key.flags & CONFIG_REPORT_NEVER) != 0) {
            continue;
        }
        if (key.store == CONFIG_STORE_KEY_NAME) {
            // As Windows keeps it: a saved report must not install it in the case -e was given.
            report.addLine(key.configName, storedServiceName(serviceName).c_str());
            continue;
        }
        if (key.store == CONFIG_STORE_SERVICE && (key.flags & CONFIG_NUMBERED) != 0) {
            // A list value: one numbered line per item, as stored.
            std::vector<std::wstring> items;
            readServiceStrings(serviceName, key.valueName, &items);
            for (size_t n = 0; n < items.size(); ++n) {
                wchar_t name[64];
                swprintf(name, 64, L"%ls%d", key.configName, static_cast<int>(n + 1));
                report.addLine(name, items[n].c_str());
            }
            continue;
        }
        if (key.store == CONFIG_STORE_SERVICE) {
            addServiceValue(report, key, serviceName);
            continue;
        }
        // On the console references appear resolved; a saved file keeps them as stored, so that
        // it installs the same settings again.
        int expand = toConsole && (key.flags & CONFIG_REPORT_STORED) == 0;
        // A required value that is missing is worth the trace's explanation.
        int logErrors = (key.flags & CONFIG_REQUIRED) != 0;
        if ((key.flags & CONFIG_NUMBERED) == 0) {
            addParameter(report, serviceName, key.configName, key.valueName, logger, logErrors,
                         expand);
            continue;
        }
        // Numbered values carry the registry's own names; keys compare without regard to case.
        for (int n = 1;; ++n) {
            wchar_t name[40];
            swprintf(name, 40, L"%ls%d", key.valueName, n);
            wchar_t* value = getRegServiceParam(serviceName, name, logger, 0, expand);
            if (value == nullptr) {
                break;
            }
            report.addLine(name, value);
            free(value);
        }
    }
}

// The report's bytes as they go into the file (free() them); null with `error` set on failure.
// `replaced` tells whether the ANSI code page lacked some of its characters.
unsigned char* encodeReport(const wchar_t* report, int unicode, size_t* size, DWORD* error,
                            BOOL* replaced) {
    size_t length = wcslen(report);
    if (unicode) {
        *size = utf16leSize(report, length);
        unsigned char* bytes = static_cast<unsigned char*>(malloc(*size + 1));
        if (bytes == nullptr) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        utf16leEncode(report, length, bytes);
        return bytes;
    }
    if (length > 0x7FFFFFFF) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    // Measured first: in a multi-byte code page one character may need several bytes.
    int needed = WideCharToMultiByte(CP_ACP, 0, report, static_cast<int>(length), nullptr, 0,
                                     nullptr, nullptr);
    if (needed <= 0) {
        *error = GetLastError();
        return nullptr;
    }
    unsigned char* bytes = static_cast<unsigned char*>(malloc(static_cast<size_t>(needed) + 1));
    if (bytes == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    // A UTF-8 code page holds every character and takes no such question.
    int converted = WideCharToMultiByte(CP_ACP, 0, report, static_cast<int>(length),
                                        reinterpret_cast<char*>(bytes), needed, nullptr,
                                        GetACP() == CP_UTF8 ? nullptr : replaced);
    if (converted <= 0) {
        *error = GetLastError();
        free(bytes);
        return nullptr;
    }
    *size = static_cast<size_t>(converted);
    return bytes;
}

// 0, BRONTEL_RESULT_OUT_OF_MEMORY or BRONTEL_RESULT_FILE_NOT_WRITTEN.
int saveReport(const wchar_t* report, const wchar_t* fileName, CLogger* logger, int unicode) {
    // Encoded before the file is created, so that a failure leaves no empty file behind.
    size_t size = 0;
    DWORD error = ERROR_SUCCESS;
    BOOL replaced = FALSE;
    unsigned char* bytes = encodeReport(report, unicode, &size, &error, &replaced);
    if (bytes == nullptr) {
        if (error == ERROR_NOT_ENOUGH_MEMORY) {
            logger->logMessage(L"Memory error");
            return BRONTEL_RESULT_OUT_OF_MEMORY;
        }
        logger->logMessage(L"Cannot convert the report to the ANSI code page ", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    int result = writeNewFile(fileName, bytes, size, unicode, logger);
    free(bytes);
    if (result == 0 && replaced) {
        // Installed again, the file would give the service other values.
        logger->logMessage(L"Warning: the ANSI code page lacks some characters of the settings; "
                           L"they were saved as replacement characters. Save with -w to keep "
                           L"them.");
    }
    return result;
}

} // namespace

int CConfigFile::showServiceInfo(const wchar_t* serviceName, const wchar_t* configFileName,
                                 CLogger* logger, int unicode) {
    logger->logEntry(L"CConfigFile::showServiceInfo");
    int toConsole = configFileName == nullptr;
    if (serviceName == nullptr) {
        serviceName = L"";
    }

    // The state of the trace switch goes to the logger only, never into the report.
    wchar_t trace[valueChars];
    memset(trace, 0, sizeof(trace));
    if (getRegStrValue(HKEY_LOCAL_MACHINE, BRONTEL_SOFTWARE_KEY, nullptr, BRONTEL_TRACE_VALUE,
                       trace, sizeof(trace))) {
        logger->logMessage(L"Tracing enabled to file ", trace);
    } else {
        logger->logMessage(L"Tracing not enabled");
    }

    if (!isBrontelService(serviceName)) {
        // A report of settings that are not there would read like a service's; -e writes
        // nothing at all.
        logger->logMessage(L"The service ", serviceName,
                           L" is not installed (brontel -b lists the services brontel installed).");
        logger->logExit(L"CConfigFile::showServiceInfo", BRONTEL_RESULT_NOT_INSTALLED);
        return BRONTEL_RESULT_NOT_INSTALLED;
    }

    Report report;
    buildReport(report, serviceName, logger, toConsole);
    wchar_t warning[imagePathWarningChars];
    int unquoted = imagePathWarning(serviceName, warning);
    const wchar_t* text = report.get();
    int result = 0;
    if (text == nullptr) {
        logger->logMessage(L"Memory error");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else if (toConsole) {
        logger->logMessage(text);
    } else {
        result = saveReport(text, configFileName, logger, unicode);
    }
    // The warning stays out of a saved report, which must install again as it is.
    if (unquoted) {
        logger->logMessage(warning);
    }
    logger->logExit(L"CConfigFile::showServiceInfo", 0);
    return result;
}
