// The entries for a failed start and an unexpected end of the Java side.
#include "runtime/events/service_events.h"

#include "platform/result_codes.h"
#include "runtime/events/event_ids.h"
#include "runtime/events/result_words.h"

#include <stdio.h>

namespace {
// As the guide's table of codes says, in a sentence each.
const CodeText hints[] = {
    {BRONTEL_RESULT_OUT_OF_MEMORY, L"The machine ran out of memory while starting the Java VM."},
    {BRONTEL_RESULT_JVM_NOT_LOADED,
     L"Set jvmDLL to the full path of the Java runtime's jvm.dll, of the same bitness as "
     L"brontel.exe (see \"The JVM library is not found\" in the guide)."},
    {BRONTEL_RESULT_NOT_A_JVM,
     L"Point jvmDLL at the runtime's jvm.dll (not java.dll or javaw.exe)."},
    {BRONTEL_RESULT_JNI_VERSION, L"Use a current Java runtime."},
    {BRONTEL_RESULT_VM_NOT_CREATED,
     L"Check the jvmOption values, especially memory sizes; the VM's own complaint appears "
     L"in the verboseOutput file, or on the console with -x."},
    {BRONTEL_RESULT_NO_SERVICE_CLASS, L"Install the service again with ibrontelClass."},
    {BRONTEL_RESULT_CLASS_NOT_FOUND,
     L"Check ibrontelClass (full name with its package) and the class path in "
     L"-Djava.class.path (see \"The service class is not found\" in the guide)."},
    {BRONTEL_RESULT_NO_SERVICE_MAIN,
     L"The class needs a public static void serviceMain(String[])."},
    {BRONTEL_RESULT_NO_SERVICE_CONTROL,
     L"The class needs a public static void serviceControl(int); both methods are "
     L"required."},
    {BRONTEL_RESULT_MANAGER_CLASS_NOT_FOUND, L"Put brontel.jar on -Djava.class.path."},
    {BRONTEL_RESULT_NATIVES_NOT_REGISTERED,
     L"Use the brontel.jar of this release, and only one copy of it on the class path."},
    {BRONTEL_RESULT_JAVA_EXCEPTION,
     L"Fix the Java program; run it with -x to see the stack trace."},
    {BRONTEL_RESULT_PROGRAM_NOT_STARTED,
     L"Check the program's class or -jar and ProgramService's options in commandLineParms, "
     L"and the class path (see \"Running an existing Java program\" in the guide)."},
    {BRONTEL_RESULT_PROGRAM_FAILED,
     L"Fix the program or its settings; run it with -x, or set stderrFile, to see the "
     L"exception's stack trace."},
    {BRONTEL_RESULT_UNSAFE_CAPTURE_PATH,
     L"Name an output capture folder that does not exist yet (brontel creates it for "
     L"LocalSystem, Administrators and the service's account), or one that is no link and "
     L"that only they can change (see \"Output capture\" in the guide)."},
    {BRONTEL_RESULT_WORKING_DIRECTORY,
     L"Create the folder or correct workingDirectory (see \"The service's process\" in the "
     L"guide)."},
};
} // namespace

const wchar_t* startFailureHint(int code) {
    const wchar_t* hint = textOfCode(hints, sizeof hints / sizeof hints[0], code);
    return hint != nullptr
               ? hint
               : L"Switch tracing on (brontel -t), start the service again and read the trace.";
}

void reportStartFailure(CEventReporter* events, int code, const wchar_t* traceText,
                        const CServiceSettings& settings) {
    const wchar_t* serviceName = events->getServiceName();
    wchar_t codeText[20];
    swprintf(codeText, 20, L"%d", code);
    const wchar_t* library = settings.text(CFG_JVM_DLL);
    const wchar_t* className = settings.text(CFG_SERVICE_CLASS);
    const wchar_t* strings[] = {
        serviceName,
        codeText,
        traceText != nullptr ? traceText : L"(no messages)",
        library != nullptr ? library : L"(not set: " BRONTEL_DEFAULT_JVM_LIBRARY L")",
        className != nullptr ? className : L"(not set)",
        startFailureHint(code),
    };
    events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_START_FAILED, strings, 6);
}

void reportJavaEnded(CEventReporter* events, const wchar_t* stateName) {
    const wchar_t* strings[] = {events->getServiceName(), stateName};
    events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_JAVA_ENDED, strings, 2);
}
