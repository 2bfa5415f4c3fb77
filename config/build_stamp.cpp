#include "config/build_stamp.h"

// Set by the compiler when this file is built.
extern const char BRONTEL_BUILD_DATE[] = __DATE__;
extern const char BRONTEL_BUILD_TIME[] = __TIME__;
extern const wchar_t T_BRONTEL_BUILD_DATE[] = L"" __DATE__;
extern const wchar_t T_BRONTEL_BUILD_TIME[] = L"" __TIME__;
