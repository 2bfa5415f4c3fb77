// The process's standard handles as Windows keeps them: three slots, null until set.
#include "kobject.h"

#include <atomic>

namespace {
std::atomic<HANDLE> slots[3];

int slotIndex(DWORD which) {
    switch (which) {
    case STD_INPUT_HANDLE:
        return 0;
    case STD_OUTPUT_HANDLE:
        return 1;
    case STD_ERROR_HANDLE:
        return 2;
    default:
        return -1;
    }
}
} // namespace

extern "C" BOOL WINAPI SetStdHandle(DWORD which, HANDLE handle) {
    int index = slotIndex(which);
    if (index < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    slots[index].store(handle);
    return TRUE;
}

extern "C" HANDLE WINAPI GetStdHandle(DWORD which) {
    int index = slotIndex(which);
    if (index < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    return slots[index].load();
}
