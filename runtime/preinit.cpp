// The pre-initialization command: a configured command line run to its end, hidden, before the
// Java VM is created; in service mode the Service Control Manager is told to expect a slow start.
#include "runtime/executor.h"

#include "runtime/preinit_program.h"

int CExecutor::executePreinitCommand() {
    logger->logEntry(L"CExecutor::executePreinitCommand");
    int result = 0;
    const wchar_t* command = settings.text(CFG_PREINIT_COMMAND);
    if (command == nullptr) {
        logger->logMessage(L"No preinit command specified.");
    } else {
        if (!withoutSCM) {
            DWORD waitHint = 0;
            settings.number(CFG_PREINIT_WAIT_HINT, logger, nullptr, &waitHint);
            WaitForSingleObject(statusLock, INFINITE);
            serviceStatus.dwCurrentState = SERVICE_START_PENDING;
            serviceStatus.dwControlsAccepted = 0;
            serviceStatus.dwServiceSpecificExitCode = 0;
            serviceStatus.dwCheckPoint = 0;
            serviceStatus.dwWaitHint = waitHint;
            SetServiceStatus(statusHandle, &serviceStatus);
            ReleaseMutex(statusLock);
        }
        logger->logMessage(L"Executing command: ", command);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process = {};
        std::wstring program;
        int resolved = resolvePreinitProgram(command, program);
        if (resolved == PREINIT_PROGRAM_NEEDS_QUOTES) {
            logger->logMessage(L"The program's path contains blanks and is not quoted; put it in "
                               L"double quotes: ",
                               command);
            result = 24;
        } else {
            BOOL started = FALSE;
            if (resolved == PREINIT_PROGRAM_NOT_FOUND) {
                SetLastError(ERROR_FILE_NOT_FOUND);
            } else {
                // CreateProcessW may write into the command line: a copy of its own.
                std::wstring commandLine = command;
                started = CreateProcessW(program.empty() ? nullptr : program.c_str(),
                                         &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                         nullptr, &startup, &process);
            }
            if (started) {
                WaitForSingleObject(process.hProcess, INFINITE);
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
                logger->logMessage(L"Command completed.");
            } else {
                DWORD error = GetLastError();
                logger->logMessage(L"Unable to create process. rc=", error);
                logger->logSystemError(error);
                result = 24;
            }
        }
    }
    logger->logExit(L"CExecutor::executePreinitCommand", result);
    return result;
}
