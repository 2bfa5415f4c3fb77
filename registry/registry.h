// Registry access for the whole program: readers for arbitrary keys, the writer of one value,
// the reader and writer of a service's Parameters values, environment expansion, and the
// conversion to the ANSI code page.
#ifndef BRONTEL_REGISTRY_REGISTRY_H
#define BRONTEL_REGISTRY_REGISTRY_H

#include "platform/result_codes.h"
#include "trace/logger.h"

// Where the Service Control Manager keeps service entries, and the subkey for Java settings.
#define BRONTEL_SERVICES_KEY L"SYSTEM\\CurrentControlSet\\Services"
#define BRONTEL_PARAMETERS_SUBKEY L"Parameters"

// Parameters value names (see the configuration key table in settings/config_keys.h).
#define REGVAL_JVM_DLL L"JVMdll"
#define REGVAL_JVM_OPTION L"JVMOption"
#define REGVAL_COMMAND_LINE L"CommandLine"
#define REGVAL_SERVICE_CLASS L"IBrontelClass"
#define REGVAL_VERBOSE_FILE L"VerboseFile"
#define REGVAL_PREINIT_CMD L"PreInitCmd"
#define REGVAL_PREINIT_HINT L"PreInitHint"
// Stop timeout and recovery actions (the actions also go to the Service Control Manager).
#define REGVAL_STOP_TIMEOUT L"StopTimeout"
#define REGVAL_FAILURE_ACTIONS L"FailureActions"
#define REGVAL_FAILURE_RESET_PERIOD L"FailureResetPeriod"
#define REGVAL_FAILURE_ON_NON_ZERO_EXIT L"FailureOnNonZeroExit"
// TRUE lets the trace show the pre-initialization command's and the stop method's arguments.
#define REGVAL_TRACE_ARGUMENTS L"TraceArguments"

// Reads a value into the caller's buffer of bufferSize bytes; returns buffer or null. The text is
// terminated within the buffer; a value that fills the buffer without any NUL counts as absent.
wchar_t* getRegStrValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                        const wchar_t* valueName, wchar_t* buffer, DWORD bufferSize);
// Reads a multi-string and joins its items with separator in place; returns buffer or null.
wchar_t* getRegStrListValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                            const wchar_t* valueName, wchar_t* buffer, DWORD bufferSize,
                            wchar_t separator);
DWORD getRegDwValue(HKEY root, const wchar_t* keyPath, const wchar_t* subKey,
                    const wchar_t* valueName, DWORD defaultValue);
// 0 on success, BRONTEL_RESULT_REGISTRY_NOT_WRITTEN on failure (traced).
// The result of writing a value: 0, or the failure traced with the value's name.
int regWriteResult(LSTATUS rc, const wchar_t* valueName, CLogger* logger);
int setRegStrValue(HKEY key, const wchar_t* valueName, const wchar_t* value, CLogger* logger);
// Where reading a Parameters value stopped, kept so that the reader that needs the value can
// trace why it is missing when it needs it.
enum ServiceParamStep {
    SERVICE_PARAM_READ,      // nothing failed
    SERVICE_PARAM_NO_MEMORY, // nothing to say: memory ran out
    SERVICE_PARAM_OPEN_KEY,  // the Parameters key cannot be opened
    SERVICE_PARAM_SIZE,      // the value's size cannot be had (it is usually absent)
    SERVICE_PARAM_VALUE,     // the value cannot be read
};
struct ServiceParamFailure {
    ServiceParamStep step;
    LSTATUS status;
};
// A new text (free() it) or null with `failure` saying why; nothing is traced.
wchar_t* readServiceParam(const wchar_t* serviceName, const wchar_t* valueName, int expandEnv,
                          ServiceParamFailure* failure);
// The same for a value of any key under HKEY_LOCAL_MACHINE, of any length (path null: no memory).
wchar_t* readRegText(const wchar_t* path, const wchar_t* valueName, int expandEnv,
                     ServiceParamFailure* failure);
// The trace of a failed read, as getRegServiceParam with logErrors gives it.
void traceServiceParamFailure(const wchar_t* serviceName, const wchar_t* valueName,
                              const ServiceParamFailure& failure, CLogger* logger);
// A new text (free() it) or null. The text is always terminated, also when the stored data
// lacks its NUL.
wchar_t* getRegServiceParam(const wchar_t* serviceName, const wchar_t* valueName, CLogger* logger,
                            int logErrors, int expandEnv);
wchar_t* getRegServiceParameter(const wchar_t* serviceName, const wchar_t* valueName,
                                CLogger* logger);
// 1 when the service's Parameters value reads TRUE (ASCII case ignored), 0 otherwise.
int getRegServiceFlag(const wchar_t* serviceName, const wchar_t* valueName, CLogger* logger);
// value null deletes the value. 0 success, BRONTEL_RESULT_OUT_OF_MEMORY, or
// BRONTEL_RESULT_REGISTRY_NOT_WRITTEN for a registry failure.
int setRegServiceParameter(const wchar_t* serviceName, const wchar_t* valueName,
                           const wchar_t* value, CLogger* logger);
// %NAME% references expanded to a new text (free() it); `text` may be overwritten. Null only
// when `text` is null or memory runs out.
wchar_t* expandEnvStrings(wchar_t* text);
// A new narrow text in the ANSI code page (free() it), never cut short in a multi-byte code
// page. Null when `text` is null, memory runs out or the conversion fails; a character the code
// page cannot hold fails it (ERROR_NO_UNICODE_TRANSLATION), never becomes a look-alike.
char* convertToMBCS(const wchar_t* text);

#endif
