// The one header through which the program sees the Windows API.
// On Windows it is the real API; on Linux the stand-in in winapi-linux/ provides the same
// names, types, flags and error codes for the subset the program calls.
#ifndef BRONTEL_PLATFORM_WINAPI_H
#define BRONTEL_PLATFORM_WINAPI_H

#ifdef _WIN32
#include <windows.h>
#include <winsvc.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <aclapi.h>
#include <winternl.h>
#include <userenv.h>
#include <fcntl.h>
#include <io.h>
#else
#include "winapi_linux.h"
#endif

#include <wchar.h>

// The few real differences between the builds.
#ifdef _WIN32
#define BRONTEL_DEFAULT_JVM_LIBRARY L"jvm.dll"
#ifdef _WIN64
#define BRONTEL_RAISE_SIGNAL_EXPORT "JVM_RaiseSignal"
#else
#define BRONTEL_RAISE_SIGNAL_EXPORT "_JVM_RaiseSignal@4"
#endif
#else
#define BRONTEL_DEFAULT_JVM_LIBRARY L"libjvm.so"
#define BRONTEL_RAISE_SIGNAL_EXPORT "JVM_RaiseSignal"
#endif
// Between the entries of the Java class path.
#ifdef _WIN32
#define BRONTEL_CLASS_PATH_SEPARATOR ";"
#else
#define BRONTEL_CLASS_PATH_SEPARATOR ":"
#endif
// What separates the folders of a path (Windows also takes a slash).
#ifdef _WIN32
#define BRONTEL_PATH_SEPARATORS L"\\/"
#else
#define BRONTEL_PATH_SEPARATORS L"/"
#endif
// What separates the folders of PATH.
#ifdef _WIN32
#define BRONTEL_PATH_LIST_SEPARATOR L";"
#else
#define BRONTEL_PATH_LIST_SEPARATOR L":"
#endif
// Where a Java runtime keeps its JVM library below its home folder, newest layouts first; the
// distribution's default runtime; whether runtimes are registered in the registry; and what an
// absolute path looks like.
#ifdef _WIN32
#define BRONTEL_JAVA_HOME_LIBRARIES                                                                \
    {                                                                                              \
        L"bin\\server\\jvm.dll", L"jre\\bin\\server\\jvm.dll", L"bin\\client\\jvm.dll",            \
            L"jre\\bin\\client\\jvm.dll"                                                           \
    }
#define BRONTEL_DISTRIBUTION_JAVA_HOME L""
#define BRONTEL_REGISTERED_JAVA 1
#define BRONTEL_POSIX_PATHS 0
#define BRONTEL_JVM_LIBRARY_EXAMPLE L"C:\\Program Files\\Java\\jdk-17\\bin\\server\\jvm.dll"
#else
#define BRONTEL_JAVA_HOME_LIBRARIES                                                                \
    {                                                                                              \
        L"lib/server/libjvm.so", L"jre/lib/server/libjvm.so", L"jre/lib/amd64/server/libjvm.so",   \
            L"lib/client/libjvm.so"                                                                \
    }
#define BRONTEL_DISTRIBUTION_JAVA_HOME L"/usr/lib/jvm/default-java"
#define BRONTEL_REGISTERED_JAVA 0
#define BRONTEL_POSIX_PATHS 1
#define BRONTEL_JVM_LIBRARY_EXAMPLE L"/usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so"
#endif
// Where the service's event log entries can be read, before the event source's name.
#ifdef _WIN32
#define BRONTEL_EVENT_LOG_PLACE L"the Application event log (Event Viewer), source "
#else
#define BRONTEL_EVENT_LOG_PLACE                                                                    \
    L"the stand-in's event file eventlog/Application.jsonl under $BRONTEL_ROOT (by default "       \
    L"~/.local/state/brontel), source "
#endif
// The VM's break signal: SIGBREAK (21) on Windows, SIGQUIT (3) where the VM dumps threads on it.
#ifdef _WIN32
#define BRONTEL_BREAK_SIGNAL 21
#else
#define BRONTEL_BREAK_SIGNAL 3
#endif

#endif
