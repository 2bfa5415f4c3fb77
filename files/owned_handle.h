// A handle that closes itself, so that no early return leaks one.
#ifndef BRONTEL_FILES_OWNED_HANDLE_H
#define BRONTEL_FILES_OWNED_HANDLE_H

#include "platform/winapi.h"

class COwnedHandle {
  public:
    COwnedHandle() : handle(INVALID_HANDLE_VALUE) {}
    explicit COwnedHandle(HANDLE handle) : handle(handle) {}
    ~COwnedHandle() { reset(); }
    COwnedHandle(const COwnedHandle&) = delete;
    COwnedHandle& operator=(const COwnedHandle&) = delete;
    COwnedHandle(COwnedHandle&& other) noexcept : handle(other.release()) {}
    COwnedHandle& operator=(COwnedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    HANDLE get() const { return handle; }
    int valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    // The caller takes the handle over.
    HANDLE release() {
        HANDLE taken = handle;
        handle = INVALID_HANDLE_VALUE;
        return taken;
    }
    void reset(HANDLE replacement = INVALID_HANDLE_VALUE) {
        if (valid()) {
            CloseHandle(handle);
        }
        handle = replacement;
    }

  private:
    HANDLE handle;
};

#endif
