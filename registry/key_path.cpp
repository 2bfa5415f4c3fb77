#include "registry/key_path.h"

#include "registry/registry.h"

#include <stdlib.h>

wchar_t* joinKeyPath(const wchar_t* first, const wchar_t* second, const wchar_t* third) {
    const wchar_t* parts[3] = {first, second, third};
    size_t length = 0;
    for (const wchar_t* part : parts) {
        if (part != nullptr) {
            length += wcslen(part) + 1;
        }
    }
    wchar_t* path = static_cast<wchar_t*>(calloc(length + 1, sizeof(wchar_t)));
    if (path == nullptr) {
        return nullptr;
    }
    size_t used = 0;
    for (const wchar_t* part : parts) {
        if (part == nullptr) {
            continue;
        }
        if (used > 0) {
            path[used++] = L'\\';
        }
        size_t n = wcslen(part);
        wmemcpy(path + used, part, n);
        used += n;
    }
    path[used] = L'\0';
    return path;
}

wchar_t* serviceParametersPath(const wchar_t* serviceName) {
    return joinKeyPath(BRONTEL_SERVICES_KEY, serviceName ? serviceName : L"",
                       BRONTEL_PARAMETERS_SUBKEY);
}
