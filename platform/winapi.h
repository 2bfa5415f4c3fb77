// The one header through which the program sees the Windows API.
// On Windows it is the real API; on Linux the stand-in in winapi-linux/ provides the same
// names, types, flags and error codes for the subset the program calls.
#ifndef BRONTEL_PLATFORM_WINAPI_H
#define BRONTEL_PLATFORM_WINAPI_H

#ifdef _WIN32
#include <windows.h>
#include <winsvc.h>
#include <ntsecapi.h>
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
// The VM's break signal: SIGBREAK (21) on Windows, SIGQUIT (3) where the VM dumps threads on it.
#ifdef _WIN32
#define BRONTEL_BREAK_SIGNAL 21
#else
#define BRONTEL_BREAK_SIGNAL 3
#endif

#endif
