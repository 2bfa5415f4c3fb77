// The VM's diagnostic output, redirected into the service's verbose-output file.
#include "jvm/jvm.h"

#include "registry/registry.h"
#include "trace/path_links.h"

#include <stdlib.h>

wchar_t* g_pVerboseOutputFile = nullptr;
FILE* g_fpVerboseFileHandle = nullptr;

namespace {
// Several VM threads may write at once; the file must be opened only once.
HANDLE openLock() {
    static HANDLE lock = CreateMutexW(nullptr, FALSE, nullptr);
    return lock;
}
} // namespace

extern "C" jint JNICALL my_vfprintf(FILE* stream, const char* format, va_list args) {
    (void)stream; // the VM's own stream is replaced by the file
    if (g_pVerboseOutputFile == nullptr) {
        return -1;
    }
    HANDLE lock = openLock();
    if (lock != nullptr) {
        WaitForSingleObject(lock, INFINITE);
    }
    if (g_fpVerboseFileHandle == nullptr) {
        // A link would let whoever planted it choose the file the service writes: refused.
        char* path =
            pathHasLink(g_pVerboseOutputFile) ? nullptr : convertToMBCS(g_pVerboseOutputFile);
        if (path != nullptr) {
            // Appended to, never truncated; a failure is retried on the next call.
            g_fpVerboseFileHandle = fopen(path, "a");
            free(path);
        }
    }
    FILE* file = g_fpVerboseFileHandle;
    if (lock != nullptr) {
        ReleaseMutex(lock);
    }
    if (file == nullptr) {
        return -1;
    }
    int written = vfprintf(file, format, args);
    fflush(file);
    return written;
}
