// The process heap is the C library's allocator.
#include "kobject.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace {
int processHeapTag;
}

extern "C" HANDLE WINAPI GetProcessHeap(void) {
    return &processHeapTag;
}

extern "C" LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    (void)heap;
    void* memory =
        (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

extern "C" LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID mem, SIZE_T bytes) {
    (void)heap;
    size_t old = mem ? malloc_usable_size(mem) : 0;
    void* memory = realloc(mem, bytes ? bytes : 1);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((flags & HEAP_ZERO_MEMORY) && bytes > old) {
        memset(static_cast<char*>(memory) + old, 0, bytes - old);
    }
    return memory;
}

extern "C" BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID mem) {
    (void)heap, (void)flags;
    free(mem);
    return TRUE;
}
