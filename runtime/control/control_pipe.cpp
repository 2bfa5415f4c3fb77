// The control pipe of a development-mode run: another instance of the program (-s) writes a
// control code into it, and the code goes to the Java side as a service control would. The
// trace labels keep the names that existing traces and their readers know.
#include "runtime/control/control_pipe.h"

#include "runtime/control/pipe_client.h"
#include "runtime/control/pipe_trust.h"

#include <stdlib.h>
#include <wchar.h>

namespace {

const DWORD pollMs = 500;
// How long a connected client has to send its four bytes before it is disconnected, so that one
// that connects and stays silent cannot keep other senders out.
const DWORD clientMs = 1000;

bool isSet(HANDLE event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

CControlPipeServer::CControlPipeServer(CLogger* logger, const wchar_t* serviceName,
                                       CControlTarget* target, HANDLE doneEvent)
    : logger(logger), serviceName(serviceName), target(target), serviceDoneEvent(doneEvent),
      pipeHandle() {}

HANDLE CControlPipeServer::startThread() {
    if (!pipeHandle.isOpen()) {
        return nullptr;
    }
    HANDLE thread = CreateThread(nullptr, 0, pipeRoutine, this, 0, nullptr);
    if (thread == nullptr) {
        pipeHandle.reset(KernelHandleKind::none());
    }
    return thread;
}

DWORD WINAPI CControlPipeServer::pipeRoutine(LPVOID server) {
    static_cast<CControlPipeServer*>(server)->readFromPipe();
    return 0;
}

int CControlPipeServer::createPipe() {
    wchar_t* pipeName = newControlPipeName(serviceName);
    logger->logEntry(L"CExecutor::createControlPipe");
    if (pipeName == nullptr) {
        logger->logMessage(L"Memory Error");
        logger->logExit(L"CExecutor::createControlPipe", 0);
        return 0;
    }
    // Only LocalSystem, Administrators and the user running this instance may open the pipe;
    // without that descriptor the pipe is not created at all.
    std::wstring securityText = controlPipeSecurity();
    CLocalDescriptor descriptor;
    if (securityText.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(securityText.c_str(), SDDL_REVISION_1,
                                                              descriptor.receive(), nullptr)) {
        DWORD error = GetLastError();
        free(pipeName);
        logger->logMessage(L"Could not build the control pipe's security rc=", error);
        logger->logSystemError(error);
        logger->logExit(L"CExecutor::createControlPipe", 0);
        return 0;
    }
    // Every instance of a pipe gets the security of its first one: a pipe that somebody else
    // created first would admit whoever that creator let in. So this must be the first
    // instance, and the only one.
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = descriptor.get();
    pipeHandle.reset(CreateNamedPipeW(
        pipeName, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4, 4,
        pollMs, &security));
    descriptor.reset(nullptr);
    // The pipe exists: refused as a first instance, or it has all the instances it may have.
    int taken = 0;
    if (!pipeHandle.isOpen()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Could not create named pipe rc=", error);
        logger->logSystemError(error);
        taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
    } else {
        // Asked again of the pipe itself, for systems that do not refuse a first instance of a
        // pipe that exists (Wine does not): this one must be the only instance.
        DWORD instances = 0;
        if (!GetNamedPipeHandleStateW(pipeHandle.get(), nullptr, &instances, nullptr, nullptr,
                                      nullptr, 0)) {
            DWORD error = GetLastError();
            logger->logMessage(L"Cannot count the control pipe's instances rc=", error);
            logger->logSystemError(error);
        } else if (instances > 1) {
            logger->logMessage(L"The control pipe has other instances than this one:", instances);
            pipeHandle.reset(KernelHandleKind::none());
            taken = 1;
        }
    }
    int result = 0;
    if (taken) {
        logger->logMessage(L"The control pipe ", pipeName,
                           L" is held by another process: another development-mode instance of "
                           L"this service, or a program that took its name first. The service "
                           L"is not run.");
        result = BRONTEL_RESULT_PIPE_IN_USE;
    }
    free(pipeName);
    logger->logExit(L"CExecutor::createControlPipe", result);
    return result;
}

void CControlPipeServer::readFromPipe() {
    logger->logEntry(L"CExecutor::readFromPipe");
    HANDLE pipe = pipeHandle.get();
    if (!pipeHandle.isOpen()) {
        logger->logExit(L"CExecutor::readFromPipe", 0);
        return;
    }
    CWinHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.get();
    if (!event.isOpen()) {
        DWORD error = GetLastError();
        logger->logMessage(L"Could not create the pipe's event rc=", error);
        logger->logSystemError(error);
        pipeHandle.reset(KernelHandleKind::none());
        logger->logExit(L"CExecutor::readFromPipe", 0);
        return;
    }

    DWORD lastError = 0;
    BOOL connected = FALSE;
    int stop = isSet(serviceDoneEvent) ? 1 : 0;
    while (!stop) {
        if (lastError != ERROR_IO_PENDING) {
            overlapped.Offset = 0;
            overlapped.OffsetHigh = 0;
            connected = ConnectNamedPipe(pipe, &overlapped);
            lastError = connected ? 0 : GetLastError();
        }
        int clientHere = connected || lastError == ERROR_PIPE_CONNECTED;
        if (lastError == ERROR_IO_PENDING &&
            WaitForSingleObject(overlapped.hEvent, pollMs) == WAIT_OBJECT_0) {
            DWORD ignored = 0;
            if (GetOverlappedResult(pipe, &overlapped, &ignored, FALSE)) {
                clientHere = 1;
            } else {
                // The connect ended without a client; listen again.
                lastError = 0;
            }
        }
        if (clientHere) {
            serveClient(pipe, &overlapped);
            DisconnectNamedPipe(pipe);
            lastError = 0;
            connected = FALSE;
            ResetEvent(overlapped.hEvent);
        } else if (lastError == ERROR_NO_DATA) {
            // A client opened and closed again before the server asked (the restart's polls
            // do this): nothing was sent, so listen again.
            DisconnectNamedPipe(pipe);
            lastError = 0;
        } else if (lastError != ERROR_IO_PENDING && lastError != 0) {
            logger->logMessage(L"Got an unexpected error, killing pipe thread rc =", lastError);
            stop = 1;
        }
        if (isSet(serviceDoneEvent)) {
            stop = 1;
        }
    }
    if (lastError == ERROR_IO_PENDING) {
        // The connect still pending refers to `overlapped`: end it before the record goes.
        CancelIo(pipe);
        DWORD ignored = 0;
        GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
    }
    event.reset(KernelHandleKind::none());
    pipeHandle.reset(KernelHandleKind::none());
    logger->logExit(L"CExecutor::readFromPipe", 0);
}

void CControlPipeServer::serveClient(HANDLE pipe, OVERLAPPED* overlapped) {
    BYTE message[4];
    DWORD received = 0;
    bool timedOut = false;
    // The time allowed is for the whole message, however it is split.
    const DWORD sliceMs = 100;
    DWORD waited = 0;
    while (received < sizeof message) {
        DWORD got = 0;
        if (!ReadFile(pipe, message + received, sizeof message - received, &got, overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break; // the client closed its end early
            }
            // A client that does not write in time is dropped, and so is one still writing
            // when the service ends.
            while (WaitForSingleObject(overlapped->hEvent, sliceMs) == WAIT_TIMEOUT) {
                waited += sliceMs;
                if (isSet(serviceDoneEvent) || waited >= clientMs) {
                    timedOut = waited >= clientMs;
                    CancelIo(pipe);
                    break;
                }
            }
            if (!GetOverlappedResult(pipe, overlapped, &got, TRUE)) {
                break;
            }
        }
        if (got == 0) {
            break;
        }
        received += got;
    }
    if (received < sizeof message && timedOut) {
        logger->logMessage(L"A pipe client sent no complete control within a second, "
                           L"disconnected; bytes received:",
                           received);
        return;
    }
    if (received < sizeof message) {
        // Normal traffic: a restart polls the pipe by opening and closing it.
        logger->logMessage(L"Incomplete control message ignored, bytes received:", received);
        return;
    }
    DWORD code = static_cast<DWORD>(message[0]) | (static_cast<DWORD>(message[1]) << 8) |
                 (static_cast<DWORD>(message[2]) << 16) | (static_cast<DWORD>(message[3]) << 24);
    if (!target->deliverControl(code)) {
        logger->logMessage(L"The service is not ready, control code dropped:", code);
    }
}
