// The output capture's settings, taken from the service's.
#include "runtime/capture/capture_settings.h"

#include "platform/textutil.h"
#include "settings/value_check.h"

#include <stdlib.h>

#include <initializer_list>

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
    return first != nullptr && second != nullptr && asciiEqualNoCase(first, second);
}
