// -b: the services that this program installed.
#include "app/service_list.h"

#include "platform/result_codes.h"
#include "registry/registry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {
// Sizes are counted in Windows' two-byte characters and converted to bytes with the width of
// wchar_t, so that both builds accept the same values: display names take 1000 with the
// terminator.
const DWORD enumeratedNameChars = 2000;
const DWORD displayNameBytes = 1000 * sizeof(wchar_t);
const size_t listingBufferChars = 2004;
} // namespace

int showBrontelServices() {
    wprintf(L"SERVICE NAME : DISPLAY NAME\n");
    wprintf(L"---------------------------\n");
    CRegKey services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BRONTEL_SERVICES_KEY, 0, KEY_ENUMERATE_SUB_KEYS,
                      services.receive()) != ERROR_SUCCESS) {
        wprintf(L"Cannot open registry.");
        fflush(stdout);
        return BRONTEL_RESULT_SCM_FAILED;
    }
    int result = 0;
    wchar_t* name = static_cast<wchar_t*>(calloc(listingBufferChars, sizeof(wchar_t)));
    wchar_t* displayName = static_cast<wchar_t*>(calloc(listingBufferChars, sizeof(wchar_t)));
    if (name == nullptr || displayName == nullptr) {
        wprintf(L"Memory error\n");
        result = BRONTEL_RESULT_OUT_OF_MEMORY;
    } else {
        int found = 0;
        LSTATUS rc = ERROR_SUCCESS;
        for (DWORD index = 0;; ++index) {
            DWORD chars = enumeratedNameChars;
            rc = RegEnumKeyExW(services.get(), index, name, &chars, nullptr, nullptr, nullptr,
                               nullptr);
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
            result = BRONTEL_RESULT_SCM_FAILED;
        }
        if (!found) {
            wprintf(L"No services found that use Brontel\n");
        }
    }
    free(name);
    free(displayName);
    fflush(stdout);
    return result;
}
