// Windows handles that close themselves: a Service Control Manager handle (the manager's or a
// service's), a registry key and a kernel object's handle. Each owns what it holds, closes it
// when it goes or is given another, and cannot be copied.
#ifndef BRONTEL_PLATFORM_HANDLES_H
#define BRONTEL_PLATFORM_HANDLES_H

#include "platform/winapi.h"

template <class Kind> class CHandleOf {
  public:
    typedef typename Kind::Type Type;

    CHandleOf() : value(Kind::none()) {}
    explicit CHandleOf(Type value) : value(value) {}
    ~CHandleOf() { close(); }
    CHandleOf(const CHandleOf&) = delete;
    CHandleOf& operator=(const CHandleOf&) = delete;

    Type get() const { return value; }
    bool isOpen() const { return Kind::isValid(value); }
    // Closes what is held and takes `other`.
    void reset(Type other) {
        close();
        value = other;
    }
    // For the calls that hand a new handle back through a pointer: what was held is closed.
    Type* receive() {
        reset(Kind::none());
        return &value;
    }

  private:
    void close() {
        if (Kind::isValid(value)) {
            Kind::close(value);
        }
        value = Kind::none();
    }

    Type value;
};

struct ServiceHandleKind {
    typedef SC_HANDLE Type;
    static Type none() { return nullptr; }
    static bool isValid(Type handle) { return handle != nullptr; }
    static void close(Type handle) { CloseServiceHandle(handle); }
};

struct RegistryKeyKind {
    typedef HKEY Type;
    static Type none() { return nullptr; }
    static bool isValid(Type key) { return key != nullptr; }
    static void close(Type key) { RegCloseKey(key); }
};

struct KernelHandleKind {
    typedef HANDLE Type;
    static Type none() { return nullptr; }
    // CreateFileW and its kind fail with INVALID_HANDLE_VALUE, the others with null.
    static bool isValid(Type handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void close(Type handle) { CloseHandle(handle); }
};

typedef CHandleOf<ServiceHandleKind> CServiceHandle;
typedef CHandleOf<RegistryKeyKind> CRegKey;
typedef CHandleOf<KernelHandleKind> CWinHandle;

#endif
