// CJvm::loadJVMDll: the configured JVM library, or the system's default name, or the first Java
// runtime found where an administrator would expect one; every attempt traced with its reason.
#include "jvm/jvm.h"

#include "jvm/jvm_library.h"
#include "platform/textutil.h"
#include "registry/registry.h"

#include <stdlib.h>
#include <wchar.h>

namespace {
// GetProcAddress returns a generic function pointer; going through void(*)() keeps the
// conversion to the export's real type free of cast warnings.
template <class T> T exportAs(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(proc));
}

// The system's reason for a failed load, plus the processor-type sentence for error 193.
void traceLoadFailure(CLogger* logger, const wchar_t* path, DWORD error) {
    logger->logSystemError(error);
    wchar_t sentence[BRONTEL_JVM_PATH_CHARS + 200];
    if (error == ERROR_BAD_EXE_FORMAT &&
        describeForeignImage(path, sentence, sizeof sentence / sizeof sentence[0])) {
        logger->logMessage(sentence);
    }
}

// Appends "; " and text to a bounded list; the list ends in "..." once it is full.
void appendToList(wchar_t* list, size_t listChars, const wchar_t* text) {
    size_t used = wcslen(list);
    size_t needed = (used ? 2 : 0) + wcslen(text);
    if (used + needed + 4 > listChars) {
        if (used + 4 <= listChars && (used < 3 || wcscmp(list + used - 3, L"...") != 0)) {
            wcscat(list, L"...");
        }
        return;
    }
    if (used) {
        wcscat(list, L"; ");
    }
    wcscat(list, text);
}
} // namespace

// A configured library is the administrator's choice: exactly that file, never a search.
static int loadConfiguredLibrary(CLogger* logger, const wchar_t* path, HMODULE* library) {
    if (!isAbsolutePath(path)) {
        // A relative path would be searched for, and an undefined %VARIABLE% leaves one.
        logger->logMessage(L"The JVM DLL path is not an absolute path : ", path);
        logger->logMessage(L"An environment variable in it may be undefined for the service. Set "
                           L"jvmDLL to the full path of the JVM DLL, for example ",
                           BRONTEL_JVM_LIBRARY_EXAMPLE);
        return BRONTEL_RESULT_JVM_NOT_LOADED;
    }
    DWORD error = 0;
    *library = loadJvmLibraryFile(path, &error);
    if (*library == nullptr) {
        logger->logMessage(L"Cannot load the JVM DLL : ", path);
        traceLoadFailure(logger, path, error);
        logger->logMessage(L"Set jvmDLL to the full path of a Java runtime's JVM DLL, for example ",
                           BRONTEL_JVM_LIBRARY_EXAMPLE);
        return BRONTEL_RESULT_JVM_NOT_LOADED;
    }
    return 0;
}

// No library configured: the default name from brontel's folder and the system folders, then
// the runtimes found. *path becomes the path of the library that loaded.
static int loadDiscoveredLibrary(CLogger* logger, wchar_t** path, HMODULE* library) {
    DWORD error = 0;
    *library = loadJvmLibraryDefault(&error);
    if (*library != nullptr) {
        *path = copyText(BRONTEL_DEFAULT_JVM_LIBRARY);
        return *path ? 0 : BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    logger->logMessage(L"Cannot load the JVM DLL : ", BRONTEL_DEFAULT_JVM_LIBRARY);
    logger->logSystemError(error);

    CJvmCandidates* candidates = static_cast<CJvmCandidates*>(calloc(1, sizeof(CJvmCandidates)));
    wchar_t* tried = static_cast<wchar_t*>(calloc(4096, sizeof(wchar_t)));
    if (candidates == nullptr || tried == nullptr) {
        free(candidates);
        free(tried);
        logger->logMessage(L"Memory error in CJvm::loadJVMDll");
        return BRONTEL_RESULT_OUT_OF_MEMORY;
    }
    logger->logMessage(L"Looking for a Java runtime.");
    findJavaRuntimes(candidates);
    int result = BRONTEL_RESULT_JVM_NOT_LOADED;
    for (int i = 0; i < candidates->count && result == BRONTEL_RESULT_JVM_NOT_LOADED; ++i) {
        const CJvmCandidate& candidate = candidates->items[i];
        wchar_t line[BRONTEL_JVM_PATH_CHARS + BRONTEL_JVM_ORIGIN_CHARS + 40];
        swprintf(line, sizeof line / sizeof line[0], L"Trying the JVM DLL %ls (from %ls)",
                 candidate.path, candidate.origin);
        logger->logMessage(line);
        appendToList(tried, 4096, candidate.path);
        if (candidate.noLibrary) {
            logger->logMessage(L"Not taken: no JVM DLL below this Java home folder.");
        } else if (!isAbsolutePath(candidate.path)) {
            logger->logMessage(L"Not taken: not an absolute path.");
        } else {
            *library = loadJvmLibraryFile(candidate.path, &error);
            if (*library == nullptr) {
                logger->logMessage(L"Not taken, error", error);
                traceLoadFailure(logger, candidate.path, error);
            } else {
                *path = copyText(candidate.path);
                result = *path ? 0 : BRONTEL_RESULT_OUT_OF_MEMORY;
            }
        }
    }
    if (result == BRONTEL_RESULT_JVM_NOT_LOADED) {
        logger->logMessage(L"No Java runtime could be loaded. Tried: ",
                           tried[0] ? tried : L"(no Java runtime found)");
        logger->logMessage(L"Set jvmDLL in the service's configuration file to the full path of "
                           L"the JVM DLL, for example ",
                           BRONTEL_JVM_LIBRARY_EXAMPLE, L", or set JAVA_HOME for the service.");
    }
    free(tried);
    free(candidates);
    return result;
}

int CJvm::loadJVMDll() {
    logger->logEntry(L"CJvm::loadJVMDll");
    // Missing: why is traced, and the search below takes over.
    const wchar_t* configured = settings->text(CFG_JVM_DLL, logger, 1);
    wchar_t* path = nullptr;
    int result = 0;
    if (configured != nullptr) {
        path = copyText(configured);
        result = path == nullptr ? BRONTEL_RESULT_OUT_OF_MEMORY : 0;
    }
    if (result == 0) {
        result = path != nullptr ? loadConfiguredLibrary(logger, path, &jvmLibrary)
                                 : loadDiscoveredLibrary(logger, &path, &jvmLibrary);
    }
    if (result == BRONTEL_RESULT_OUT_OF_MEMORY) {
        logger->logMessage(L"Memory error in CJvm::loadJVMDll");
    }
    if (result == 0) {
        JNI_CreateJavaVM_proc =
            exportAs<CreateJavaVM_t>(GetProcAddress(jvmLibrary, "JNI_CreateJavaVM"));
        if (JNI_CreateJavaVM_proc == nullptr) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot load JNI_CreateJavaVM from the JVM DLL : ", path);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_NOT_A_JVM;
        }
    }
    if (result == 0) {
        JNI_GetDefaultJavaVMInitArgs_proc = exportAs<GetDefaultJavaVMInitArgs_t>(
            GetProcAddress(jvmLibrary, "JNI_GetDefaultJavaVMInitArgs"));
        if (JNI_GetDefaultJavaVMInitArgs_proc == nullptr) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot load JNI_GetDefaultJavaVMInitArgs from the JVM DLL : ",
                               path);
            logger->logSystemError(error);
            result = BRONTEL_RESULT_NOT_A_JVM;
        }
    }
    if (result == 0) {
        logger->logMessage(L"JVM DLL ", path, L" loaded successfully.");
    }
    free(path);
    logger->logExit(L"CJvm::loadJVMDll", result);
    return result;
}
