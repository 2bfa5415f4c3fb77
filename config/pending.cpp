// Placeholder until the configuration subsystem lands: says so instead of pretending success.
#include "config/config_file.h"

#include <stdio.h>

CConfigFile::CConfigFile(CLogger* logger) : logger(logger), first(nullptr), last(nullptr), optionCount(0) {}
CConfigFile::~CConfigFile() {}
void CConfigFile::generateSkeletonFile(const wchar_t*, int) {
    wprintf(L"brontel: the skeleton configuration file (-c) is not built yet\n");
}
void CConfigFile::showServiceInfo(const wchar_t*, const wchar_t*, CLogger*, int) {
    wprintf(L"brontel: the service report (-d, -e) is not built yet\n");
}
