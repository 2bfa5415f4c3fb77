// The relay's process. Its trace label keeps the name that existing traces know.
#include "runtime/control/relay.h"

#include "platform/handles.h"
#include "runtime/control/command_text.h"

#include <stdio.h>

int startRelayProcess(CLogger* logger, const wchar_t* targetService, DWORD signal) {
    const wchar_t* label = L"CExecutor::sendControlSignal((pServiceName, dwSignal))";
    logger->logEntry(label);
    int result = 0;
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
            CProcessHandles started(process);
            result = 1;
        } else {
            logger->logSystemError(L"Unable to create process. rc=", GetLastError());
        }
    }
    logger->logExit(label, 0);
    return result;
}
