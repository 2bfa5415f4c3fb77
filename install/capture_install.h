// Installation's part of output capture: checking and storing the capture keys.
#ifndef BRONTEL_INSTALL_CAPTURE_INSTALL_H
#define BRONTEL_INSTALL_CAPTURE_INSTALL_H

#include "config/config_file.h"

// 0 when every capture value present is well formed; otherwise each malformed one is reported
// and the result is BRONTEL_RESULT_BAD_CAPTURE_VALUE.
int checkCaptureOptions(CConfigFile* config, CLogger* logger);
// Writes the capture values, deleting those the file leaves out; 0, 9 or 12.
int saveCaptureOptions(const wchar_t* serviceName, CConfigFile* config, CLogger* logger);

#endif
