// The entries for a failed start and an unexpected end of the Java side.
#include "runtime/service_events.h"

#include "registry/registry.h"
#include "runtime/event_ids.h"

#include <stdio.h>
#include <stdlib.h>

namespace {
struct Hint {
    int code;
    const wchar_t* text;
};
// As the guide's table of codes says, in a sentence each.
const Hint hints[] = {
    {9, L"The machine ran out of memory while starting the Java VM."},
    {13, L"Set jvmDLL to the full path of the Java runtime's jvm.dll, of the same bitness as "
         L"brontel.exe (see \"The JVM library is not found\" in the guide)."},
    {14, L"Point jvmDLL at the runtime's jvm.dll (not java.dll or javaw.exe)."},
    {15, L"Use a current Java runtime."},
    {16, L"Check the jvmOption values, especially memory sizes; the VM's own complaint appears "
         L"in the verboseOutput file, or on the console with -x."},
    {17, L"Install the service again with ibrontelClass."},
    {18, L"Check ibrontelClass (full name with its package) and the class path in "
         L"-Djava.class.path (see \"The service class is not found\" in the guide)."},
    {19, L"The class needs a public static void serviceMain(String[])."},
    {20, L"The class needs a public static void serviceControl(int); both methods are "
         L"required."},
    {21, L"Put brontel.jar on -Djava.class.path."},
    {22, L"Use the brontel.jar of this release, and only one copy of it on the class path."},
    {27, L"Fix the Java program; run it with -x to see the stack trace."},
    {35, L"Name an output capture folder that does not exist yet (brontel creates it for "
         L"LocalSystem, Administrators and the service's account), or one that is no link and "
         L"that only they can change (see \"Output capture\" in the guide)."},
};
} // namespace

const wchar_t* startFailureHint(int code) {
    for (const Hint& hint : hints) {
        if (hint.code == code) {
            return hint.text;
        }
    }
    return L"Switch tracing on (brontel -t), start the service again and read the trace.";
}

void reportStartFailure(CEventReporter* events, int code, const wchar_t* traceText,
                        CLogger* logger) {
    const wchar_t* serviceName = events->getServiceName();
    wchar_t codeText[20];
    swprintf(codeText, 20, L"%d", code);
    wchar_t* library = getRegServiceParam(serviceName, REGVAL_JVM_DLL, logger, 0, 1);
    wchar_t* className = getRegServiceParam(serviceName, REGVAL_SERVICE_CLASS, logger, 0, 1);
    const wchar_t* strings[] = {
        serviceName,
        codeText,
        traceText != nullptr ? traceText : L"(no messages)",
        library != nullptr ? library : L"(not set: " BRONTEL_DEFAULT_JVM_LIBRARY L")",
        className != nullptr ? className : L"(not set)",
        startFailureHint(code),
    };
    events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_START_FAILED, strings, 6);
    free(library);
    free(className);
}

void reportJavaEnded(CEventReporter* events, const wchar_t* stateName) {
    const wchar_t* strings[] = {events->getServiceName(), stateName};
    events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_JAVA_ENDED, strings, 2);
}
