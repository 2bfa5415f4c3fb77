// The output capture's settings as the service uses them (the rules for their values are the
// key table's).
#ifndef BRONTEL_RUNTIME_CAPTURE_SETTINGS_H
#define BRONTEL_RUNTIME_CAPTURE_SETTINGS_H

#include "settings/service_settings.h"

// The capture keys' rules of the key table: each returns 1 and sets *value for a well-formed
// text, 0 otherwise (nothing set).
// A whole number of bytes from 0 (never rotate) to 4294967295, decimal digits only.
int parseRotateBytes(const wchar_t* text, DWORD* value);
// A whole number of rotated files to keep, 0 to 999.
int parseKeepFiles(const wchar_t* text, DWORD* value);
// TRUE or FALSE, in any case.
int parseTimestamps(const wchar_t* text, int* value);

struct CaptureSettings {
    wchar_t* stdoutPath; // environment references expanded; null: standard output is not captured
    wchar_t* stderrPath; // likewise for standard error
    DWORD rotateBytes;
    DWORD keepFiles;
    int timestamps;
    int rotateDaily;
};

// Takes the capture's part of a service's settings (a stored value that is malformed is traced
// and its default used); returns 1 when at least one stream is to be captured. Release with
// freeCaptureSettings.
int readCaptureSettings(const CServiceSettings& serviceSettings, CLogger* logger,
                        CaptureSettings* settings);
void freeCaptureSettings(CaptureSettings* settings);
// Whether two capture paths name the same file (Windows compares paths without regard to case).
int sameCapturePath(const wchar_t* first, const wchar_t* second);

#endif
