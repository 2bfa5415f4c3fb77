// What installation (-i) and update in place (-m) both take from a configuration file for the
// service's own entry: the service type, the start and error choices, and the list values the
// service key keeps (environment1, ... as Environment).
#ifndef BRONTEL_INSTALL_SERVICE_ENTRY_H
#define BRONTEL_INSTALL_SERVICE_ENTRY_H

#include "config/config_file.h"
#include "settings/config_keys.h"

#include <string>
#include <vector>

// A choice key's value in the file, or its default (with a warning) when the file names no
// choice.
DWORD choiceOf(CConfigFile* config, const wchar_t* configName, CLogger* logger);

struct ServiceKind {
    DWORD type; // own process, interactive when asked
    DWORD start;
    int delayed; // the delayed automatic start, set apart from the start type
    DWORD errorControl;
};
ServiceKind serviceKindOf(CConfigFile* config, CLogger* logger);

// The items of a numbered key kept as one list value of the service key, in order.
std::vector<std::wstring> serviceListOf(CConfigFile* config, const ConfigKey& entry);
// Writes them as the value, deleted when the file gives none: 0 or the failure's code.
int saveServiceList(CConfigFile* config, const ConfigKey& entry, const wchar_t* serviceName,
                    CLogger* logger);

#endif
