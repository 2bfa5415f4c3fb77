// Console control events (Ctrl+C, Ctrl+Break, close, logoff, shutdown), offered to the Java
// service class; what it does not handle goes on to the handlers registered before.
#include "runtime/service/executor.h"

namespace {

const wchar_t* eventMessage(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return L"Got a ctrl_c_event";
    case CTRL_BREAK_EVENT:
        return L"Got a ctrl_break_event";
    case CTRL_CLOSE_EVENT:
        return L"Got a ctrl_close_event";
    case CTRL_LOGOFF_EVENT:
        return L"Got a ctrl_logoff_event";
    case CTRL_SHUTDOWN_EVENT:
        return L"Got a ctrl_shutdown_event";
    default:
        return L"Got an unknown event";
    }
}

} // namespace

BOOL WINAPI signal_handler(DWORD event) {
    // Through the Java VM host's gate: this thread may run while the process ends, and the gate
    // is open exactly while the executor lives.
    if (enterJvmHost() == nullptr) {
        return FALSE;
    }
    int handled = g_pExecutor->consoleSignalHandler(event);
    leaveJvmHost();
    return handled ? TRUE : FALSE;
}

int CExecutor::consoleSignalHandler(DWORD event) {
    logger->logMessage(eventMessage(event));
    // Not handled while the Java side is not ready, so the earlier handlers still see it.
    int handled = deliverConsoleSignal(event);
    logger->logMessage(L"Console control event ", handled ? L"handled." : L"not handled.");
    return handled;
}
