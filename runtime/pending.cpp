// Placeholders until the rest of the service runtime lands: the pre-initialization command,
// console events, the control pipe and signal sending. Each says so instead of pretending.
#include "runtime/executor.h"

#include <stdio.h>

int CExecutor::executePreinitCommand() {
    logger->logMessage(L"The pre-initialization command is not built yet.");
    return 0;
}

int CExecutor::consoleSignalHandler(DWORD event) {
    return deliverConsoleSignal(event);
}

BOOL WINAPI signal_handler(DWORD event) {
    return g_pExecutor != nullptr && g_pExecutor->consoleSignalHandler(event) ? TRUE : FALSE;
}

void CExecutor::readFromPipe() {}

DWORD WINAPI pipeRoutine(LPVOID executor) {
    static_cast<CExecutor*>(executor)->readFromPipe();
    return 0;
}

wchar_t* CExecutor::getPipeName() {
    return nullptr;
}

void CExecutor::sendControlSignal(const wchar_t*) {
    wprintf(L"brontel: signal sending (-s) is not built yet\n");
}

int CExecutor::sendControlSignal(DWORD, const wchar_t*) {
    return 0;
}

int CExecutor::doRestart() {
    return 0;
}
