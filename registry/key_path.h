// Building the registry key paths that the registry functions open.
#ifndef BRONTEL_REGISTRY_KEY_PATH_H
#define BRONTEL_REGISTRY_KEY_PATH_H

#include <wchar.h>

// A new text (free() it): the parts joined with backslashes, null parts left out; null when
// there is no memory.
wchar_t* joinKeyPath(const wchar_t* first, const wchar_t* second, const wchar_t* third);

// A new text (free() it): the path of a service's Parameters key; null when out of memory.
wchar_t* serviceParametersPath(const wchar_t* serviceName);

#endif
