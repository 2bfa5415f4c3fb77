// Windows handles that close themselves: a Service Control Manager handle (the manager's or a
// service's), a registry key, a kernel object's handle, an event source, an environment block,
// and memory Windows handed out with LocalAlloc (texts and security descriptors that conversions
// return). Each owns what it holds, closes it when it goes or is given another, and can be moved
// but not copied.
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
    // Moved, it is the new holder's to close.
    CHandleOf(CHandleOf&& other) noexcept : value(other.release()) {}
    CHandleOf& operator=(CHandleOf&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const { return value; }
    bool isOpen() const { return Kind::isValid(value); }
    // Closes what is held and takes `other`.
    void reset(Type other) {
        close();
        value = other;
    }
    // Gives up what is held without closing it, for whoever keeps it from now on.
    Type release() {
        Type taken = value;
        value = Kind::none();
        return taken;
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

// A handle from RegisterEventSourceW.
struct EventSourceKind {
    typedef HANDLE Type;
    static Type none() { return nullptr; }
    static bool isValid(Type source) { return source != nullptr; }
    static void close(Type source) { DeregisterEventSource(source); }
};

// Typed as the call that hands it out wants it (wchar_t*, PSECURITY_DESCRIPTOR).
template <class Pointer> struct LocalMemoryKind {
    typedef Pointer Type;
    static Type none() { return nullptr; }
    static bool isValid(Type memory) { return memory != nullptr; }
    static void close(Type memory) { LocalFree(memory); }
};

// A block from CreateEnvironmentBlock.
struct EnvironmentBlockKind {
    typedef LPVOID Type;
    static Type none() { return nullptr; }
    static bool isValid(Type block) { return block != nullptr; }
    static void close(Type block) { DestroyEnvironmentBlock(block); }
};

typedef CHandleOf<ServiceHandleKind> CServiceHandle;
typedef CHandleOf<RegistryKeyKind> CRegKey;
typedef CHandleOf<KernelHandleKind> CWinHandle;
typedef CHandleOf<EventSourceKind> CEventSource;
typedef CHandleOf<LocalMemoryKind<wchar_t*>> CLocalText;
typedef CHandleOf<LocalMemoryKind<PSECURITY_DESCRIPTOR>> CLocalDescriptor;
typedef CHandleOf<EnvironmentBlockKind> CEnvironmentBlock;

// The two handles CreateProcessW hands back; the thread's is closed before the process's.
struct CProcessHandles {
    explicit CProcessHandles(const PROCESS_INFORMATION& started)
        : process(started.hProcess), thread(started.hThread) {}
    CWinHandle process;
    CWinHandle thread;
};

#endif
