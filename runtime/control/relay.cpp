// The relay behind Java's sendServiceControl: a hidden "brontel -s <service> <signal>" process
// delivers the signal from outside, so a service can also stop or restart itself.
#include "runtime/service/executor.h"

#include "runtime/control/command_text.h"

#include <stdio.h>

int CExecutor::sendControlSignal(const wchar_t* targetService, DWORD signal) {
    const wchar_t* label = L"CExecutor::sendControlSignal((pServiceName, dwSignal))";
    logger->logEntry(label);
    int result = 0;
    if (targetService == nullptr) {
        targetService = serviceName;
    }
    std::wstring path = getExecutablePath();
    if (path.empty()) {
        logger->logMessage(L"Cannot signal process, binary not found.");
    } else {
        // Quoted, so that blanks in the path or the service name cannot split them.
        wchar_t number[20];
        swprintf(number, 20, L" %d", static_cast<int>(signal));
        std::wstring commandLine;
        appendQuotedArgument(commandLine, path.c_str());
        commandLine += L" -s ";
        appendQuotedArgument(commandLine, targetService ? targetService : L"");
        commandLine += number;

        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            result = 1;
        } else {
            DWORD error = GetLastError();
            logger->logMessage(L"Unable to create process. rc=", error);
            logger->logSystemError(error);
        }
    }
    logger->logExit(label, 0);
    return result;
}
