// Pointing the process's standard output and error at capture pipes, and back.
#include "runtime/capture/output_capture.h"

#include "runtime/events/event_ids.h"

#include <stdio.h>

namespace {
const DWORD stdHandleIds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
FILE* cStream(int fd) {
    return fd == 1 ? stdout : stderr;
}
} // namespace

COutputCapture::COutputCapture(CLogger* logger, CEventReporter* events)
    : logger(logger), events(events), streams(), redirected(), savedFd(), savedStd() {}

COutputCapture::~COutputCapture() {
    stop();
}

int COutputCapture::start(const CServiceSettings& serviceSettings) {
    CaptureSettings settings;
    int result = 0;
    if (readCaptureSettings(serviceSettings, logger, &settings)) {
        result = start(settings);
    }
    freeCaptureSettings(&settings);
    return result;
}

int COutputCapture::start(const CaptureSettings& settings) {
    logger->logEntry(L"COutputCapture::start");
    int shared = sameCapturePath(settings.stdoutPath, settings.stderrPath);
    const wchar_t* paths[2] = {settings.stdoutPath, shared ? nullptr : settings.stderrPath};
    const wchar_t* names[2] = {shared ? L"standard output and error" : L"standard output",
                               L"standard error"};
    // Both folders are judged before anything is redirected.
    CRotatingFile* files[2] = {nullptr, nullptr};
    int result = 0;
    for (int i = 0; i < 2 && result == 0; ++i) {
        if (paths[i] != nullptr) {
            files[i] = new CRotatingFile(paths[i], names[i], settings.rotateBytes,
                                         settings.keepFiles, logger, events);
            if (settings.rotateDaily) {
                files[i]->rotateDaily(GetSystemTimeAsFileTime);
            }
            result = files[i]->prepare();
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (files[i] == nullptr) {
            continue;
        }
        if (result != 0) {
            delete files[i];
            continue;
        }
        CCaptureStream* stream = new CCaptureStream(files[i], settings.timestamps);
        DWORD error = stream->start();
        if (error != 0) {
            notStarted(L"Cannot create the capture pipe or its writer thread.", error);
            stream->finish(finishMs);
            delete stream;
            continue;
        }
        streams[i] = stream;
        int ok = redirect(i + 1, stream);
        if (shared) {
            ok = redirect(2, stream) && ok;
        }
        logger->logMessage(ok ? L"Capturing the " : L"Partly capturing the ", names[i],
                           L" of the service.");
    }
    logger->logExit(L"COutputCapture::start", result);
    return result;
}

int COutputCapture::redirect(int fd, CCaptureStream* stream) {
    // The C runtime's descriptor gets a handle of its own, which it owns and closes.
    fflush(cStream(fd));
    CWinHandle copy;
    if (!DuplicateHandle(GetCurrentProcess(), stream->getWriteEnd(), GetCurrentProcess(),
                         copy.receive(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        notStarted(L"Cannot duplicate the capture pipe's handle.", GetLastError());
        return 0;
    }
    int pipeFd = _open_osfhandle(reinterpret_cast<intptr_t>(copy.get()), _O_WRONLY | _O_BINARY);
    if (pipeFd >= 0) {
        copy.release(); // the descriptor's now
    } else {
        copy.reset(KernelHandleKind::none());
        notStarted(L"The C runtime refused the capture pipe's handle.", ERROR_INVALID_HANDLE);
        return 0;
    }
    savedFd[fd] = _dup(fd);
    savedStd[fd] = GetStdHandle(stdHandleIds[fd]);
    if (_dup2(pipeFd, fd) != 0) {
        _close(pipeFd);
        if (savedFd[fd] >= 0) {
            _close(savedFd[fd]);
        }
        notStarted(L"Cannot point the C runtime's descriptor at the capture pipe.",
                   ERROR_INVALID_HANDLE);
        return 0;
    }
    _close(pipeFd);
    // Unbuffered, as on a console: what native code prints arrives as it prints it.
    setvbuf(cStream(fd), nullptr, _IONBF, 0);
    // Last, since the C runtime may set the standard handle to its own copy on the way: the
    // Java VM takes its System.out and System.err from here.
    SetStdHandle(stdHandleIds[fd], stream->getWriteEnd());
    redirected[fd] = 1;
    return 1;
}

void COutputCapture::restore(int fd) {
    if (!redirected[fd]) {
        return;
    }
    fflush(cStream(fd));
    SetStdHandle(stdHandleIds[fd], savedStd[fd]);
    if (savedFd[fd] >= 0) {
        _dup2(savedFd[fd], fd);
        _close(savedFd[fd]);
    } else {
        _close(fd);
    }
    redirected[fd] = 0;
}

void COutputCapture::stop() {
    if (streams[0] == nullptr && streams[1] == nullptr) {
        return;
    }
    logger->logEntry(L"COutputCapture::stop");
    restore(1);
    restore(2);
    for (CCaptureStream*& stream : streams) {
        if (stream == nullptr) {
            continue;
        }
        if (stream->finish(finishMs)) {
            delete stream;
        } else {
            // Its writer still waits for a process that inherited the pipe; it goes with ours.
            logger->logMessage(L"Another process still holds the capture pipe open; its last "
                               L"output may not reach the file.");
        }
        stream = nullptr;
    }
    logger->logExit(L"COutputCapture::stop", 0);
}

void COutputCapture::notStarted(const wchar_t* what, DWORD error) {
    logger->logMessage(what, error);
    logger->logSystemError(error);
    if (events != nullptr) {
        const wchar_t* strings[] = {events->getServiceName(), what};
        events->report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_CAPTURE_NOT_STARTED, strings, 2);
    }
}
