// A service key's list value (REG_MULTI_SZ), such as the Environment value that the Service
// Control Manager adds to the service process's environment.
#ifndef BRONTEL_REGISTRY_SERVICE_STRINGS_H
#define BRONTEL_REGISTRY_SERVICE_STRINGS_H

#include "platform/result_codes.h"
#include "trace/logger.h"

#include <string>
#include <vector>

// The most a list value may hold, in characters: every item's terminator and the list's own
// included. It is the largest environment block Windows gives a process.
const size_t serviceStringsChars = 32767;

// The items of the service key's value, in order; none when it is missing. 0, or
// BRONTEL_RESULT_OUT_OF_MEMORY.
int readServiceStrings(const wchar_t* serviceName, const wchar_t* valueName,
                       std::vector<std::wstring>* items);
// The items of the service key's list value joined by `separator`; empty when it is missing.
std::wstring readServiceList(const wchar_t* serviceName, const wchar_t* valueName,
                             wchar_t separator);
// A text value of the service key, read whole however long it is; `present` (may be null) says
// whether it is there.
std::wstring readServiceText(const wchar_t* serviceName, const wchar_t* valueName, int* present);
// The name of the service's key as Windows keeps it (names compare without case), or the name
// given when no key matches.
std::wstring storedServiceName(const wchar_t* serviceName);
// Writes the items as the value, or deletes it when there are none. 0,
// BRONTEL_RESULT_OUT_OF_MEMORY or BRONTEL_RESULT_REGISTRY_NOT_WRITTEN (traced).
int writeServiceStrings(const wchar_t* serviceName, const wchar_t* valueName,
                        const std::vector<std::wstring>& items, CLogger* logger);

#endif
