// The output capture's settings, taken from the service's.
#include "runtime/capture/capture_settings.h"

#include "files/full_path.h"
#include "platform/textutil.h"
#include "settings/value_check.h"

#include <stdlib.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

const wchar_t malformed[] = L"Ignoring the malformed output capture setting ";

int parseNumberOf(const wchar_t* configName, const wchar_t* text, DWORD* value) {
    return parseConfigNumber(*findConfigKey(configName), text, value);
}

} // namespace

int parseRotateBytes(const wchar_t* text, DWORD* value) {
    return parseNumberOf(CFG_LOG_ROTATE_BYTES, text, value);
}

int parseKeepFiles(const wchar_t* text, DWORD* value) {
    return parseNumberOf(CFG_LOG_KEEP_FILES, text, value);
}

int parseTimestamps(const wchar_t* text, int* value) {
    return parseConfigFlag(text, value);
}

int readCaptureSettings(const CServiceSettings& serviceSettings, CLogger* logger,
                        CaptureSettings* settings) {
    settings->stdoutPath = copyText(serviceSettings.text(CFG_STDOUT_FILE));
    settings->stderrPath = copyText(serviceSettings.text(CFG_STDERR_FILE));
    // A reference that expands to nothing leaves no file to write.
    for (wchar_t** path : {&settings->stdoutPath, &settings->stderrPath}) {
        if (*path != nullptr && **path == L'\0') {
            logger->logMessage(L"An output capture path is empty once expanded; that stream is "
                               L"not captured.");
            free(*path);
            *path = nullptr;
        }
    }
    settings->rotateBytes = 0;
    settings->keepFiles = 0;
    settings->timestamps = 0;
    settings->rotateDaily = 0;
    serviceSettings.number(CFG_LOG_ROTATE_BYTES, logger, malformed, &settings->rotateBytes);
    serviceSettings.number(CFG_LOG_KEEP_FILES, logger, malformed, &settings->keepFiles);
    serviceSettings.flag(CFG_LOG_TIMESTAMPS, logger, malformed, &settings->timestamps);
    serviceSettings.flag(CFG_LOG_ROTATE_DAILY, logger, malformed, &settings->rotateDaily);
    return settings->stdoutPath != nullptr || settings->stderrPath != nullptr;
}

void freeCaptureSettings(CaptureSettings* settings) {
    free(settings->stdoutPath);
    free(settings->stderrPath);
    settings->stdoutPath = nullptr;
    settings->stderrPath = nullptr;
}

int sameCapturePath(const wchar_t* first, const wchar_t* second) {
    if (first == nullptr || second == nullptr) {
        return 0;
    }
    // By their full paths: C:\Logs\out.log, C:/Logs/out.log and C:\Logs\.\out.log are one file,
    // which two writers would rotate from under each other.
    std::wstring roots[2];
    std::vector<std::wstring> names[2];
    if (splitFullPath(first, roots[0], names[0]) != 0 ||
        splitFullPath(second, roots[1], names[1]) != 0) {
        return asciiEqualNoCase(first, second);
    }
    if (!asciiEqualNoCase(roots[0].c_str(), roots[1].c_str()) ||
        names[0].size() != names[1].size()) {
        return 0;
    }
    for (size_t i = 0; i < names[0].size(); ++i) {
        if (!asciiEqualNoCase(names[0][i].c_str(), names[1][i].c_str())) {
            return 0;
        }
    }
    return 1;
}
