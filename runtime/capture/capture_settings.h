// The output capture's settings as the service reads them back from the registry (the rules for
// their values, which installation shares, are in registry/option_values.h).
#ifndef BRONTEL_RUNTIME_CAPTURE_SETTINGS_H
#define BRONTEL_RUNTIME_CAPTURE_SETTINGS_H

#include "registry/option_values.h"
#include "trace/logger.h"

struct CaptureSettings {
    wchar_t* stdoutPath; // environment references expanded; null: standard output is not captured
    wchar_t* stderrPath; // likewise for standard error
    DWORD rotateBytes;
    DWORD keepFiles;
    int timestamps;
};

// Reads a service's settings (a stored value that is malformed is traced and its default
// used); returns 1 when at least one stream is to be captured. Release with freeCaptureSettings.
int readCaptureSettings(const wchar_t* serviceName, CLogger* logger, CaptureSettings* settings);
void freeCaptureSettings(CaptureSettings* settings);
// Whether two capture paths name the same file (Windows compares paths without regard to case).
int sameCapturePath(const wchar_t* first, const wchar_t* second);

#endif
