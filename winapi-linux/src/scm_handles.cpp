// SC_HANDLEs of the stand-in manager, and the generic access rights they map.
#include "scm_internal.h"

#include <mutex>
#include <unordered_set>

namespace standin {
namespace scm {

namespace {
const uint32_t handleMagic = 0x5343484e; // "SCHN"

std::mutex& tableLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<brontel_sc_handle*>& table() {
    static std::unordered_set<brontel_sc_handle*> handles;
    return handles;
}
} // namespace

DWORD mapServiceAccess(DWORD access) {
    DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) {
        mapped |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    }
    if (access & GENERIC_WRITE) {
        mapped |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    }
    if (access & GENERIC_EXECUTE) {
        mapped |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    }
    if (access & GENERIC_ALL) {
        mapped |= SERVICE_ALL_ACCESS;
    }
    return mapped;
}

DWORD mapManagerAccess(DWORD access) {
    // Connecting is implied by opening the manager at all.
    DWORD mapped = (access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) |
                   SC_MANAGER_CONNECT;
    if (access & GENERIC_READ) {
        mapped |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    }
    if (access & GENERIC_WRITE) {
        mapped |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    }
    if (access & GENERIC_EXECUTE) {
        mapped |= READ_CONTROL | SC_MANAGER_LOCK;
    }
    if (access & GENERIC_ALL) {
        mapped |= SC_MANAGER_ALL_ACCESS;
    }
    return mapped;
}

SC_HANDLE newHandle(bool manager, DWORD access, const std::wstring& name) {
    auto* handle = new brontel_sc_handle{handleMagic, manager, access, name};
    std::lock_guard<std::mutex> guard(tableLock());
    table().insert(handle);
    return handle;
}

brontel_sc_handle* checkHandle(SC_HANDLE handle, bool manager, DWORD access) {
    std::lock_guard<std::mutex> guard(tableLock());
    if (handle == nullptr || table().count(handle) == 0 || handle->magic != handleMagic ||
        handle->manager != manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((handle->access & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return handle;
}

bool closeHandle(SC_HANDLE handle) {
    {
        std::lock_guard<std::mutex> guard(tableLock());
        if (handle == nullptr || table().erase(handle) == 0) {
            return false;
        }
    }
    handle->magic = 0;
    delete handle;
    return true;
}

brontel_sc_handle* checkConfigQuery(SC_HANDLE service, LPDWORD bytesNeeded) {
    brontel_sc_handle* handle = checkHandle(service, false, SERVICE_QUERY_CONFIG);
    if (handle != nullptr && bytesNeeded == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER); // Windows: ERROR_INVALID_ADDRESS
        return nullptr;
    }
    return handle;
}

} // namespace scm
} // namespace standin
