// The handle table: a HANDLE is valid while its object is registered here, so a stale or
// foreign handle is refused with ERROR_INVALID_HANDLE instead of being dereferenced.
#include "kobject.h"

#include <mutex>
#include <unordered_set>

namespace standin {
namespace {
std::mutex& tableLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<KObject*>& table() {
    // Never destroyed: when the Java VM ends the process with exit(), other threads still look
    // handles up while the exit handlers run.
    static std::unordered_set<KObject*>* objects = new std::unordered_set<KObject*>();
    return *objects;
}
} // namespace

KObject* objectFromHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock());
    auto found = table().find(static_cast<KObject*>(handle));
    if (found == table().end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return *found;
}

HANDLE registerHandle(KObject* object) {
    std::lock_guard<std::mutex> guard(tableLock());
    table().insert(object);
    return object;
}

KObject* unregisterHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock());
    auto found = table().find(static_cast<KObject*>(handle));
    if (found == table().end()) {
        return nullptr;
    }
    KObject* object = *found;
    table().erase(found);
    return object;
}

} // namespace standin

extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
    standin::KObject* found = standin::unregisterHandle(object);
    if (found == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete found;
    return TRUE;
}
