#include "runtime/events/result_words.h"

#include "platform/result_codes.h"

#include <stdio.h>
#include <wchar.h>

namespace {
// The "Meaning" column of the guide's table of codes, shortened to a phrase each.
const CodeText words[] = {
    {BRONTEL_RESULT_OK, L"success"},
    {BRONTEL_RESULT_USAGE, L"the command line is incomplete or wrong"},
    {BRONTEL_RESULT_NO_ARGUMENTS, L"no arguments: the help was printed"},
    {BRONTEL_RESULT_NO_CONFIG_FILE_NAME, L"no configuration file name"},
    {BRONTEL_RESULT_CONFIG_NOT_READ, L"the configuration file cannot be read"},
    {BRONTEL_RESULT_BAD_VALUE, L"a configuration value is missing or malformed"},
    {BRONTEL_RESULT_MISSING_KEY, L"a required configuration key is missing"},
    {BRONTEL_RESULT_SCM_FAILED, L"the Service Control Manager refused the request"},
    {BRONTEL_RESULT_OUT_OF_MEMORY, L"out of memory"},
    {BRONTEL_RESULT_NOTHING_TO_REMOVE, L"no service name or configuration file given"},
    {BRONTEL_RESULT_NOT_INSTALLED, L"the service does not exist or was not installed by brontel"},
    {BRONTEL_RESULT_REGISTRY_NOT_WRITTEN, L"a Parameters value cannot be written"},
    {BRONTEL_RESULT_JVM_NOT_LOADED, L"the Java VM library cannot be loaded (jvmDLL)"},
    {BRONTEL_RESULT_NOT_A_JVM, L"the jvmDLL library is not a Java VM"},
    {BRONTEL_RESULT_JNI_VERSION, L"the Java VM does not support JNI 1.2"},
    {BRONTEL_RESULT_VM_NOT_CREATED,
     L"the Java VM could not be created (check the jvmOption values)"},
    {BRONTEL_RESULT_NO_SERVICE_CLASS, L"no service class is configured (ibrontelClass)"},
    {BRONTEL_RESULT_CLASS_NOT_FOUND, L"the service class cannot be found"},
    {BRONTEL_RESULT_NO_SERVICE_MAIN, L"the service class has no serviceMain(String[])"},
    {BRONTEL_RESULT_NO_SERVICE_CONTROL, L"the service class has no serviceControl(int)"},
    {BRONTEL_RESULT_MANAGER_CLASS_NOT_FOUND, L"BrontelManager is not on the class path"},
    {BRONTEL_RESULT_NATIVES_NOT_REGISTERED,
     L"the native methods cannot be registered on BrontelManager"},
    {BRONTEL_RESULT_NO_CONTROL_HANDLER, L"the control handler could not be registered"},
    {BRONTEL_RESULT_PREINIT_FAILED, L"the pre-initialization command could not be started"},
    {BRONTEL_RESULT_STOP_FAILED, L"the service could not be stopped"},
    {BRONTEL_RESULT_DELETE_FAILED, L"the service could not be deleted"},
    {BRONTEL_RESULT_JAVA_EXCEPTION, L"serviceMain ended with an exception"},
    {BRONTEL_RESULT_STOP_TIMEOUT, L"the stop did not finish within stopTimeout"},
    {BRONTEL_RESULT_FILE_NOT_WRITTEN, L"the file exists already or cannot be written"},
    {BRONTEL_RESULT_NOT_DELIVERED, L"the control could not be delivered"},
    {BRONTEL_RESULT_PLACEHOLDER, L"the configuration file still holds a skeleton placeholder"},
    {BRONTEL_RESULT_PROGRAM_NOT_STARTED, L"ProgramService cannot start the program"},
    {BRONTEL_RESULT_PROGRAM_FAILED, L"the program's main ended with an exception"},
    {BRONTEL_RESULT_BAD_CAPTURE_VALUE, L"an output capture value is malformed"},
    {BRONTEL_RESULT_UNSAFE_CAPTURE_PATH, L"an output capture folder or file is refused as unsafe"},
    {BRONTEL_RESULT_PIPE_IN_USE, L"the control pipe is held by another process"},
    {BRONTEL_RESULT_NOT_RUNNING, L"the service is not running"},
    {BRONTEL_RESULT_WAIT_TIMEOUT, L"the service did not reach the state in time"},
    {BRONTEL_RESULT_START_FAILED, L"the service stopped while starting"},
};
} // namespace

const wchar_t* textOfCode(const CodeText* table, size_t count, int code) {
    for (size_t i = 0; i < count; ++i) {
        if (table[i].code == code) {
            return table[i].text;
        }
    }
    return nullptr;
}

const wchar_t* resultCodeMeaning(int code) {
    return textOfCode(words, sizeof words / sizeof words[0], code);
}

void serviceExitCodeMeaning(DWORD code, wchar_t* text, size_t chars) {
    if (text == nullptr || chars == 0) {
        return;
    }
    const wchar_t* meaning =
        code <= 0x7FFFFFFF ? resultCodeMeaning(static_cast<int>(code)) : nullptr;
    if (meaning != nullptr) {
        swprintf(text, chars, L"%ls", meaning);
    } else {
        swprintf(text, chars, L"not a brontel code: the Java program's own exit code");
    }
}

void windowsCodeMeaning(DWORD code, wchar_t* text, size_t chars) {
    if (text == nullptr || chars == 0) {
        return;
    }
    text[0] = L'\0';
    DWORD size = chars > 0xFFFF ? 0xFFFF : static_cast<DWORD>(chars);
    DWORD written =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, size, nullptr);
    if (written == 0 || written >= chars) {
        swprintf(text, chars, L"unknown error");
        return;
    }
    text[written] = L'\0';
    // Windows ends its texts with a period and a line end: the line end goes.
    while (written > 0 && (text[written - 1] == L'\n' || text[written - 1] == L'\r' ||
                           text[written - 1] == L' ')) {
        text[--written] = L'\0';
    }
}
