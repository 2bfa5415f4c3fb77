// Finding and loading the JVM library: the configured file loaded so that its dependencies come
// from its own runtime's folders, the Java runtimes an administrator would expect to be used
// when none is configured, and plain reasons for a library that cannot be loaded.
#ifndef BRONTEL_JVM_JVM_LIBRARY_H
#define BRONTEL_JVM_JVM_LIBRARY_H

#include "trace/logger.h"

#define BRONTEL_JVM_PATH_CHARS 1024
#define BRONTEL_JVM_ORIGIN_CHARS 320
#define BRONTEL_MAX_JVM_CANDIDATES 24

struct CJvmCandidate {
    wchar_t path[BRONTEL_JVM_PATH_CHARS];
    // Where the candidate came from, for the trace ("JAVA_HOME", a registry key, ...).
    wchar_t origin[BRONTEL_JVM_ORIGIN_CHARS];
    // The home folder holds none of the known library layouts; path is the home folder.
    int noLibrary;
};

struct CJvmCandidates {
    CJvmCandidate items[BRONTEL_MAX_JVM_CANDIDATES];
    int count;
};

// 1 when path is absolute on this system: a drive or UNC path on Windows, "/..." elsewhere.
int isAbsolutePath(const wchar_t* path);
// The runtime folder a JVM library's dependencies live in: for ...\bin\server\jvm.dll (also
// client, classic) the bin folder. Returns 1 and fills folder, or 0 for another layout.
int getRuntimeLibraryFolder(const wchar_t* libraryPath, wchar_t* folder, size_t folderChars);

// Loads the file at an absolute path; its dependencies are searched in its own folder, the
// runtime's library folder, brontel's folder and the system folders. Null with *error set.
HMODULE loadJvmLibraryFile(const wchar_t* path, DWORD* error);
// Loads the default name from brontel's own folder and the system folders only.
HMODULE loadJvmLibraryDefault(DWORD* error);

// For a file that cannot load as "not a valid application" (error 193): a plain sentence when
// it is a Windows image built for another processor type. Returns 1 and fills text, else 0.
int describeForeignImage(const wchar_t* path, wchar_t* text, size_t textChars);

// Appends the library candidates of one Java home folder (the first layout found under it).
void addJavaHomeCandidate(CJvmCandidates* list, const wchar_t* home, const wchar_t* origin);
// Appends the runtimes registered by Java installers in this program's registry view.
void addRegisteredRuntimes(CJvmCandidates* list);
// Every runtime to try, in order: JAVA_HOME, then the registered or the distribution's default.
void findJavaRuntimes(CJvmCandidates* list);

#endif
