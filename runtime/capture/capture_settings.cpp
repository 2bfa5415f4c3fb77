// Parsing and reading the output capture's settings.
#include "runtime/capture/capture_settings.h"

#include "platform/textutil.h"
#include "registry/config_keys.h"

#include <stdlib.h>

#include <initializer_list>

namespace {

// A stored value, or the default when it is missing or malformed (then traced).
template <class T, class Parse>
T readSetting(const wchar_t* serviceName, const wchar_t* valueName, T fallback, Parse parse,
              CLogger* logger) {
    wchar_t* text = getRegServiceParam(serviceName, valueName, logger, 0, 0);
    T value = fallback;
    if (text != nullptr && !parse(text, &value)) {
        logger->logMessage(L"Ignoring the malformed output capture setting ", valueName,
                           L"; using its default.");
        value = fallback;
    }
    free(text);
    return value;
}

} // namespace

int readCaptureSettings(const wchar_t* serviceName, CLogger* logger, CaptureSettings* settings) {
    settings->stdoutPath = getRegServiceParam(serviceName, REGVAL_STDOUT_FILE, logger, 0, 1);
    settings->stderrPath = getRegServiceParam(serviceName, REGVAL_STDERR_FILE, logger, 0, 1);
    // A reference that expands to nothing leaves no file to write.
    for (wchar_t** path : {&settings->stdoutPath, &settings->stderrPath}) {
        if (*path != nullptr && **path == L'\0') {
            logger->logMessage(L"An output capture path is empty once expanded; that stream is "
                               L"not captured.");
            free(*path);
            *path = nullptr;
        }
    }
    settings->rotateBytes =
        readSetting<DWORD>(serviceName, REGVAL_LOG_ROTATE_BYTES, BRONTEL_DEFAULT_ROTATE_BYTES,
                           parseRotateBytes, logger);
    settings->keepFiles = readSetting<DWORD>(serviceName, REGVAL_LOG_KEEP_FILES,
                                             BRONTEL_DEFAULT_KEEP_FILES, parseKeepFiles, logger);
    settings->timestamps =
        readSetting<int>(serviceName, REGVAL_LOG_TIMESTAMPS, 0, parseTimestamps, logger);
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
