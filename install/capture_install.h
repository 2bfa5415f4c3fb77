// Installation's part of output capture: checking and storing the capture keys.
#ifndef BRONTEL_INSTALL_CAPTURE_INSTALL_H
#define BRONTEL_INSTALL_CAPTURE_INSTALL_H

#include "config/config_file.h"
#include "platform/result_codes.h"

// 0 when every capture value present is well formed; otherwise each malformed one is reported
// and the result is BRONTEL_RESULT_BAD_CAPTURE_VALUE.
int checkCaptureOptions(CConfigFile* config, CLogger* logger);
// Writes the capture values, deleting those the file leaves out; 0,
// BRONTEL_RESULT_OUT_OF_MEMORY or BRONTEL_RESULT_REGISTRY_NOT_WRITTEN.
int saveCaptureOptions(const wchar_t* serviceName, CConfigFile* config, CLogger* logger);

#endif
