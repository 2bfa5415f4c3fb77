// -b: the services that this program installed, and the ownership test that removal uses.
#include "app/service_list.h"

#include "registry/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {
// Sizes are counted in Windows' two-byte characters and converted to bytes with the width of
// wchar_t, so that both builds accept the same values. "ImagePath" and "IBrontelClass" are read
// into 1024 characters whose last one stays zero; display names take 1000 with the terminator.
const size_t valueAreaChars = 1024;
const DWORD valueOfferedBytes = (valueAreaChars - 1) * sizeof(wchar_t);
const size_t keyPathChars = 512;
const DWORD enumeratedNameChars = 2000;
const DWORD displayNameBytes = 1000 * sizeof(wchar_t);
const size_t listingBufferChars = 2004;
} // namespace

int isBrontelService(const wchar_t* serviceName) {
    if (serviceName == nullptr) {
        return 0;
    }
    wchar_t keyPath[keyPathChars];
    if (swprintf(keyPath, keyPathChars, L"%ls\\%ls", BRONTEL_SERVICES_KEY, serviceName) < 0) {
        // A name this long cannot be a service.
        return 0;
    }
    wchar_t value[valueAreaChars];
    memset(value, 0, sizeof value);
    if (getRegStrValue(HKEY_LOCAL_MACHINE, keyPath, nullptr, L"ImagePath", value,
                       valueOfferedBytes) != nullptr &&
        wcsstr(value, L"brontel") != nullptr) {
        return 1;
    }
    memset(value, 0, sizeof value);
    return getRegStrValue(HKEY_LOCAL_MACHINE, keyPath, BRONTEL_PARAMETERS_SUBKEY,
                          REGVAL_SERVICE_CLASS, value, valueOfferedBytes) != nullptr;
}

void showBrontelServices() {
    wprintf(L"SERVICE NAME : DISPLAY NAME\n");
    wprintf(L"---------------------------\n");
    HKEY services = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, 0, KEY_ENUMERATE_SUB_KEYS,
                      &services) != ERROR_SUCCESS) {
        wprintf(L"Cannot open registry.");
        fflush(stdout);
        return;
    }
    wchar_t* name = static_cast<wchar_t*>(calloc(listingBufferChars, sizeof(wchar_t)));
    wchar_t* displayName = static_cast<wchar_t*>(calloc(listingBufferChars, sizeof(wchar_t)));
    if (name == nullptr || displayName == nullptr) {
        wprintf(L"Memory error\n");
    } else {
        int found = 0;
        LSTATUS rc = ERROR_SUCCESS;
        for (DWORD index = 0;; ++index) {
            DWORD chars = enumeratedNameChars;
            rc = RegEnumKeyExW(services, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                break;
            }
            if (!isBrontelService(name)) {
                continue;
            }
            found = 1;
            wmemset(displayName, 0, listingBufferChars);
            if (getRegStrValue(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, name, L"DisplayName",
                               displayName, displayNameBytes) != nullptr) {
                wprintf(L"%ls : %ls\n", name, displayName);
            } else {
                wprintf(L"%ls\n", name);
            }
        }
        if (rc != ERROR_NO_MORE_ITEMS) {
            wprintf(L"Recieved an error during service lookups %d\n", static_cast<int>(rc));
        }
        if (!found) {
            wprintf(L"No services found that use Brontel\n");
        }
    }
    RegCloseKey(services);
    free(name);
    free(displayName);
    fflush(stdout);
}
