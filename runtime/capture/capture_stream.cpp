// The capture pipe's writer thread: reads what the process writes to its standard handles and
// hands it to the capture file, with a timestamp at the start of each line when asked.
#include "runtime/capture/capture_stream.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
// "2024-05-01 13:45:12.345 "
const DWORD stampBytes = 24;
const DWORD outBytes = CCaptureStream::readBytes + 4096;

DWORD WINAPI captureThread(LPVOID stream) {
    static_cast<CCaptureStream*>(stream)->drain();
    return 0;
}
} // namespace

CCaptureStream::CCaptureStream(CRotatingFile* file, int timestamps)
    : file(file), timestamps(timestamps), atLineStart(1), readEnd(), writeEnd(), thread(),
      out(static_cast<char*>(malloc(outBytes))), outLength(0) {}

CCaptureStream::~CCaptureStream() {
    // The pipe closes before the file goes.
    writeEnd.reset(KernelHandleKind::none());
    readEnd.reset(KernelHandleKind::none());
    thread.reset(KernelHandleKind::none());
    delete file;
    free(out);
}

DWORD CCaptureStream::start() {
    if (out == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!CreatePipe(readEnd.receive(), writeEnd.receive(), nullptr, readBytes)) {
        // Whatever the failed call left there is no handle.
        readEnd.release();
        writeEnd.release();
        return GetLastError();
    }
    thread.reset(CreateThread(nullptr, 0, captureThread, this, 0, nullptr));
    if (!thread.isOpen()) {
        return GetLastError();
    }
    return 0;
}

int CCaptureStream::finish(DWORD milliseconds) {
    writeEnd.reset(KernelHandleKind::none());
    if (!thread.isOpen()) {
        return 1;
    }
    return WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0;
}

void CCaptureStream::drain() {
    char* buffer = static_cast<char*>(malloc(readBytes));
    DWORD got = 0;
    while (buffer != nullptr && ReadFile(readEnd.get(), buffer, readBytes, &got, nullptr)) {
        consume(buffer, got);
    }
    // The pipe ended (every write end closed): the last piece is in, the file can go.
    free(buffer);
    file->close();
}

void CCaptureStream::consume(const char* bytes, DWORD count) {
    if (!timestamps) {
        file->write(bytes, count);
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    DWORD i = 0;
    while (i < count) {
        if (atLineStart) {
            if (outLength + stampBytes > outBytes) {
                flushOut();
            }
            memcpy(out + outLength, stamp, stampBytes);
            outLength += stampBytes;
            atLineStart = 0;
        }
        const void* newline = memchr(bytes + i, '\n', count - i);
        DWORD end =
            newline ? static_cast<DWORD>(static_cast<const char*>(newline) - bytes) + 1 : count;
        while (i < end) {
            DWORD room = outBytes - outLength;
            if (room == 0) {
                flushOut();
                room = outBytes;
            }
            DWORD piece = end - i < room ? end - i : room;
            memcpy(out + outLength, bytes + i, piece);
            outLength += piece;
            i += piece;
        }
        atLineStart = newline != nullptr;
    }
    flushOut();
}

void CCaptureStream::flushOut() {
    if (outLength > 0) {
        file->write(out, outLength);
        outLength = 0;
    }
}
