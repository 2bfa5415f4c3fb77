// -d and -e: the settings of an installed service in configuration-file form, on the console
// or in a new file.
#include "config/config_file.h"

#include "platform/textutil.h"
#include "platform/result_codes.h"
#include "registry/config_keys.h"
#include "registry/service_manager.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Values of the service key and the trace switch are read into this many characters (4000 bytes
// of UTF-16); a longer value cannot be read and its line is left out.
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

// The executable's path out of "ImagePath": from the second character up to the next double
// quote, or all of it when no double quote follows the first character.
void cutBinaryPath(wchar_t* imagePath) {
    if (imagePath[0] == L'\0') {
        return;
    }
    wchar_t* quote = wcschr(imagePath + 1, L'"');
    if (quote == nullptr) {
        return;
    }
    size_t length = static_cast<size_t>(quote - (imagePath + 1));
    wmemmove(imagePath, imagePath + 1, length);
    imagePath[length] = L'\0';
}

void buildReport(Report& report, const wchar_t* serviceName, CLogger* logger, int toConsole) {
    const wchar_t* services = BRONTEL_SERVICES_KEY;
    wchar_t value[valueChars];
    DWORD valueBytes = sizeof(value);

    memset(value, 0, sizeof(value));
    if (getRegStrValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_DISPLAY_NAME, value,
                       valueBytes)) {
        report.addLine(CFG_SERVICE_DISPLAY_NAME, value);
    }
    report.addLine(CFG_SERVICE_NAME, serviceName);

    DWORD type = getRegDwValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_TYPE, notPresent);
    if (type != notPresent && (type & BRONTEL_INTERACTIVE_TYPE_BIT) != 0) {
        report.addLine(CFG_INTERACTIVE_SERVICE, L"TRUE");
    }
    static const wchar_t* const startTypes[] = {L"SERVICE_AUTO_START", L"SERVICE_DEMAND_START",
                                                L"SERVICE_DISABLED"};
    DWORD start =
        getRegDwValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_START, notPresent);
    if (start == SERVICE_AUTO_START && isDelayedAutoStart(serviceName)) {
        report.addLine(CFG_START_TYPE, L"SERVICE_DELAYED_AUTO_START");
    } else if (start >= 2 && start <= 4) {
        report.addLine(CFG_START_TYPE, startTypes[start - 2]);
    }
    static const wchar_t* const errorControls[] = {L"SERVICE_ERROR_IGNORE", L"SERVICE_ERROR_NORMAL",
                                                   L"SERVICE_ERROR_SEVERE",
                                                   L"SERVICE_ERROR_CRITICAL"};
    DWORD errorControl =
        getRegDwValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_ERROR_CONTROL, notPresent);
    if (errorControl <= 3) {
        report.addLine(CFG_ERROR_CONTROL, errorControls[errorControl]);
    }

    memset(value, 0, sizeof(value));
    if (getRegStrValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_IMAGE_PATH, value,
                       valueBytes)) {
        cutBinaryPath(value);
        report.addLine(CFG_BINARY_PATH, value);
    }
    memset(value, 0, sizeof(value));
    if (getRegStrListValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_DEPEND_ON_SERVICE,
                           value, valueBytes, L',')) {
        report.addLine(CFG_SERVICE_DEPENDENCIES, value);
    }
    memset(value, 0, sizeof(value));
    if (getRegStrValue(HKEY_LOCAL_MACHINE, services, serviceName, REGVAL_DESCRIPTION, value,
                       valueBytes)) {
        report.addLine(CFG_DESCRIPTION, value);
    }

    // On the console references appear resolved; a saved file keeps them as stored, so that it
    // installs the same settings again.
    addParameter(report, serviceName, CFG_JVM_DLL, REGVAL_JVM_DLL, logger, 0, toConsole);
    addParameter(report, serviceName, CFG_SERVICE_CLASS, REGVAL_SERVICE_CLASS, logger, 1,
                 toConsole);
    addParameter(report, serviceName, CFG_COMMAND_LINE, REGVAL_COMMAND_LINE, logger, 0, toConsole);
    addParameter(report, serviceName, CFG_VERBOSE_OUTPUT, REGVAL_VERBOSE_FILE, logger, 0,
                 toConsole);
    addParameter(report, serviceName, CFG_PREINIT_COMMAND, REGVAL_PREINIT_CMD, logger, 0,
                 toConsole);
    addParameter(report, serviceName, CFG_PREINIT_WAIT_HINT, REGVAL_PREINIT_HINT, logger, 0,
                 toConsole);
    static const wchar_t* const stopAndRecovery[][2] = {
        {CFG_STOP_TIMEOUT, REGVAL_STOP_TIMEOUT},
        {CFG_FAILURE_ACTIONS, REGVAL_FAILURE_ACTIONS},
        {CFG_FAILURE_RESET_PERIOD, REGVAL_FAILURE_RESET_PERIOD},
        {CFG_FAILURE_ON_NON_ZERO_EXIT, REGVAL_FAILURE_ON_NON_ZERO_EXIT},
        {CFG_TRACE_ARGUMENTS, REGVAL_TRACE_ARGUMENTS}};
    for (const auto& entry : stopAndRecovery) {
        addParameter(report, serviceName, entry[0], entry[1], logger, 0, 0);
    }
    const ConfigKey* capture = captureConfigKeys();
    for (int i = 0; i < captureConfigKeyCount; ++i) {
        addParameter(report, serviceName, capture[i].configName, capture[i].valueName, logger, 0,
                     toConsole);
    }
    // The options carry the registry's own names; keys compare without regard to case.
    for (int n = 1;; ++n) {
        wchar_t optionName[40];
        swprintf(optionName, 40, L"%ls%d", REGVAL_JVM_OPTION, n);
        wchar_t* option = getRegServiceParam(serviceName, optionName, logger, 0, toConsole);
        if (option == nullptr) {
            break;
        }
        report.addLine(optionName, option);
        free(option);
    }
}

// The report's bytes as they go into the file (free() them); null with `error` set on failure.
unsigned char* encodeReport(const wchar_t* report, int unicode, size_t* size, DWORD* error) {
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
    int converted = WideCharToMultiByte(CP_ACP, 0, report, static_cast<int>(length),
                                        reinterpret_cast<char*>(bytes), needed, nullptr, nullptr);
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
    unsigned char* bytes = encodeReport(report, unicode, &size, &error);
    if (bytes == nullptr) {
        if (error == ERROR_NOT_ENOUGH_MEMORY) {
            logger->logMessage(L"Memory error");
            return BRONTEL_RESULT_OUT_OF_MEMORY;
        }
        logger->logMessage(L"Cannot convert the report to the ANSI code page ", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    HANDLE file = CreateFileW(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        logger->logMessage(L"Cannot open file ", fileName);
        logger->logSystemError(error);
        free(bytes);
        return BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    int result = 0;
    logger->logMessage(L"Generating file ", fileName, unicode ? L" using unicode." : L" ");
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr)) {
        error = GetLastError();
        logger->logMessage(L"Cannot write file ", error);
        logger->logSystemError(error);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    } else if (written != size) {
        logger->logMessage(L"Cannot write file ", static_cast<DWORD>(ERROR_DISK_FULL));
        logger->logSystemError(ERROR_DISK_FULL);
        result = BRONTEL_RESULT_FILE_NOT_WRITTEN;
    }
    CloseHandle(file);
    free(bytes);
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

    Report report;
    buildReport(report, serviceName, logger, toConsole);
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
    logger->logExit(L"CConfigFile::showServiceInfo", 0);
    return result;
}
