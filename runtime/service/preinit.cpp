// The pre-initialization command: a configured command line run to its end, hidden, before the
// Java VM is created; in service mode the Service Control Manager is told to expect a slow start.
#include "runtime/service/executor.h"

#include "platform/handles.h"
#include "runtime/service/preinit_program.h"

#include <string>

int CExecutor::runPreinitProgram(const wchar_t* command, const PreinitProgram& program) {
    // The event log names the program only; the trace shows its arguments when asked to.
    std::wstring named = program.path;
    if (program.hasArguments) {
        named += L" (its arguments are traced only with traceArguments=TRUE)";
    }
    if (tracesArguments()) {
        logger->logPrivateMessage(L"Executing command: ", command, named.c_str());
    } else {
        logger->logMessage(L"Executing command: ", named.c_str());
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    // The program found above, and nothing the system would guess from the line. CreateProcessW
    // may write into the command line: a copy of its own.
    std::wstring commandLine = command;
    if (!CreateProcessW(program.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        DWORD error = GetLastError();
        logger->logMessage(L"Unable to create process. rc=", error);
        logger->logSystemError(error);
        return BRONTEL_RESULT_PREINIT_FAILED;
    }
    {
        CProcessHandles started(process);
        WaitForSingleObject(started.process.get(), INFINITE);
    }
    logger->logMessage(L"Command completed.");
    return 0;
}

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
            WaitForSingleObject(statusLock.get(), INFINITE);
            serviceStatus.dwCurrentState = SERVICE_START_PENDING;
            serviceStatus.dwControlsAccepted = 0;
            serviceStatus.dwServiceSpecificExitCode = 0;
            serviceStatus.dwCheckPoint = 0;
            serviceStatus.dwWaitHint = waitHint;
            SetServiceStatus(statusHandle, &serviceStatus);
            ReleaseMutex(statusLock.get());
        }
        PreinitProgram program;
        int resolved = resolvePreinitProgram(command, program);
        if (resolved == PREINIT_PROGRAM_OK) {
            result = runPreinitProgram(command, program);
        } else {
            // Named by its path alone: the line's arguments may hold secrets, and these
            // messages also go into the event log.
            if (resolved == PREINIT_PROGRAM_NEEDS_QUOTES) {
                logger->logMessage(L"The program's path contains blanks and is not quoted; put "
                                   L"it in double quotes: ",
                                   program.named.c_str());
            } else if (resolved == PREINIT_PROGRAM_NOT_ABSOLUTE) {
                logger->logMessage(L"The pre-initialization program's path is not absolute: ",
                                   program.named.c_str(), L"; give its full path.");
            } else {
                logger->logMessage(L"The pre-initialization program does not exist: ",
                                   program.named.c_str());
                logger->logMessage(L"Unable to create process. rc=",
                                   static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
                logger->logSystemError(ERROR_FILE_NOT_FOUND);
            }
            result = BRONTEL_RESULT_PREINIT_FAILED;
        }
    }
    logger->logExit(L"CExecutor::executePreinitCommand", result);
    return result;
}
