// QueryServiceObjectSecurity and SetServiceObjectSecurity: the DACL's text in the service key's
// Security subkey, value Security.
#include "scm_internal.h"

#include <vector>

using namespace standin::scm;

namespace {

// What Windows gives a service that CreateServiceW made.
const wchar_t defaultDacl[] = L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
                              L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";

std::wstring securityKeyPath(const std::wstring& name) {
    return serviceKeyPath(name) + L"\\Security";
}

std::wstring storedDacl(const std::wstring& name) {
    HKEY key = nullptr;
    std::wstring text = defaultDacl;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, securityKeyPath(name).c_str(), 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return text;
    }
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(key, L"Security", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size >= sizeof(wchar_t)) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, L"Security", nullptr, nullptr,
                             reinterpret_cast<LPBYTE>(data.data()), &size) == ERROR_SUCCESS) {
            text = data.data();
        }
    }
    RegCloseKey(key);
    return text;
}

} // namespace

extern "C" BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE service,
                                                  SECURITY_INFORMATION information,
                                                  PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                                  LPDWORD needed) {
    brontel_sc_handle* handle = checkHandle(service, false, READ_CONTROL);
    if (handle == nullptr) {
        return FALSE;
    }
    if (information != DACL_SECURITY_INFORMATION || needed == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *needed = standin::writeDescriptor(storedDacl(handle->name), descriptor, size);
    if (descriptor == nullptr || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI SetServiceObjectSecurity(SC_HANDLE service, SECURITY_INFORMATION information,
                                                PSECURITY_DESCRIPTOR descriptor) {
    brontel_sc_handle* handle = checkHandle(service, false, WRITE_DAC);
    if (handle == nullptr) {
        return FALSE;
    }
    if (information != DACL_SECURITY_INFORMATION || !standin::isSecurityDescriptor(descriptor)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring text = standin::descriptorText(descriptor);
    HKEY key = nullptr;
    LSTATUS rc =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, securityKeyPath(handle->name).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc =
            RegSetValueExW(key, L"Security", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST
                                                : static_cast<DWORD>(rc));
        return FALSE;
    }
    return TRUE;
}
