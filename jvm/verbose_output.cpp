// The VM's diagnostic output, redirected into the service's verbose-output file.
#include "jvm/verbose_output.h"

#include "files/file_results.h"
#include "files/safe_file.h"
#include "jvm/jvm.h"
#include "registry/registry.h"

#include <fcntl.h>
#include <stdlib.h>

wchar_t* g_pVerboseOutputFile = nullptr;
FILE* g_fpVerboseFileHandle = nullptr;

namespace {
// Set for good once a link was found: a refused file is never looked at again, so that one
// start does not give whoever planted it a try on every write of the VM.
int verboseRefused = 0;

// Several VM threads may write at once; the file must be opened only once.
HANDLE openLock() {
    static HANDLE lock = CreateMutexW(nullptr, FALSE, nullptr);
    return lock;
}

const wchar_t* refusalMessage(int result) {
    return result == FILES_HARD_LINK
               ? L"Verbose output file not used, it has more than one name (a hard link): "
               : L"Verbose output file not used, it or a folder on its path is a link: ";
}

// Under the lock: opens the file unless it is open or refused; the result of the attempt.
int openUnderLock(DWORD* error) {
    if (g_fpVerboseFileHandle != nullptr || verboseRefused) {
        return FILES_OK;
    }
    int result = openVerboseOutputFile(g_pVerboseOutputFile, &g_fpVerboseFileHandle, error);
    if (result == FILES_LINK || result == FILES_HARD_LINK) {
        verboseRefused = 1;
    }
    return result;
}
} // namespace

int openVerboseOutputFile(const wchar_t* path, FILE** opened, DWORD* error) {
    *opened = nullptr;
    CWinHandle file;
    int result = openFileNoLinks(path, FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, file, error);
    if (result != FILES_OK) {
        return result;
    }
    // Appended to, never truncated.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND);
    if (fd < 0) {
        *error = ERROR_INVALID_HANDLE;
        return FILES_FAILED;
    }
    file.release(); // the descriptor owns it now
    *opened = _fdopen(fd, "a");
    if (*opened == nullptr) {
        _close(fd);
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return FILES_FAILED;
    }
    return FILES_OK;
}

void prepareVerboseOutput(CLogger* logger) {
    if (g_pVerboseOutputFile == nullptr) {
        return;
    }
    HANDLE lock = openLock();
    if (lock != nullptr) {
        WaitForSingleObject(lock, INFINITE);
    }
    DWORD error = 0;
    int result = openUnderLock(&error);
    if (lock != nullptr) {
        ReleaseMutex(lock);
    }
    if (result == FILES_LINK || result == FILES_HARD_LINK) {
        logger->logMessage(refusalMessage(result), g_pVerboseOutputFile);
    } else if (result == FILES_FAILED) {
        logger->logMessage(L"Cannot open the verbose output file now; it is tried again at the "
                           L"VM's next line: ",
                           g_pVerboseOutputFile);
        logger->logSystemError(error);
    }
}

extern "C" jint JNICALL my_vfprintf(FILE* stream, const char* format, va_list args) {
    (void)stream; // the VM's own stream is replaced by the file
    if (g_pVerboseOutputFile == nullptr) {
        return -1;
    }
    HANDLE lock = openLock();
    if (lock != nullptr) {
        WaitForSingleObject(lock, INFINITE);
    }
    // A failure other than a refusal is tried again on the next call.
    DWORD error = 0;
    int result = openUnderLock(&error);
    FILE* file = g_fpVerboseFileHandle;
    if (lock != nullptr) {
        ReleaseMutex(lock);
    }
    if (result == FILES_LINK || result == FILES_HARD_LINK) {
        // Found only now, with no trace at hand: said where the VM's output would have gone.
        char* path = convertToMBCS(g_pVerboseOutputFile);
        fprintf(stderr, "brontel: %ls%s\n", refusalMessage(result), path != nullptr ? path : "");
        free(path);
    }
    if (file == nullptr) {
        return -1;
    }
    int written = vfprintf(file, format, args);
    fflush(file);
    return written;
}
