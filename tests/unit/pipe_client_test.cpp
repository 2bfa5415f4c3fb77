// The senders' side of the control pipe: the message format, the wait for a busy pipe, and the
// restart's wait for a running instance to let its pipe go.
#include "runtime/pipe_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

std::wstring uniquePipe(const wchar_t* tag) {
    return testsupport::uniqueName(L"\\\\.\\pipe\\client-", tag);
}

HANDLE createServer(const std::wstring& name) {
    return testsupport::createInboundPipe(name, 1);
}

TEST(PipeClient, CodeTravelsAsFourLittleEndianBytes) {
    std::wstring name = uniquePipe(L"code");
    HANDLE server = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE client = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, client) << GetLastError();
    EXPECT_EQ(1, writeControlCode(client, 0xFB020301u));
    CloseHandle(client);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    unsigned char bytes[4] = {};
    DWORD got = 0;
    if (!ReadFile(server, bytes, 4, &got, &overlapped)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
        ASSERT_TRUE(GetOverlappedResult(server, &overlapped, &got, TRUE));
    }
    EXPECT_EQ(4u, got);
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0x03, bytes[1]);
    EXPECT_EQ(0x02, bytes[2]);
    EXPECT_EQ(0xFB, bytes[3]);
    CloseHandle(overlapped.hEvent);
    CloseHandle(server);
}

TEST(PipeClient, NobodyServingMeansGone) {
    std::wstring name = uniquePipe(L"gone");
    EXPECT_EQ(INVALID_HANDLE_VALUE, openControlPipe(name.c_str()));
    EXPECT_EQ(1, waitForPipeToGo(name.c_str(), 1));
}

TEST(PipeClient, AServedOrBusyPipeIsStillThere) {
    std::wstring name = uniquePipe(L"busy");
    HANDLE server = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    EXPECT_EQ(0, waitForPipeToGo(name.c_str(), 1));
    // The one instance is taken by another client: busy, not gone.
    DisconnectNamedPipe(server);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ConnectNamedPipe(server, &overlapped);
    HANDLE other = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openControlPipe(name.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_BUSY), GetLastError());
    EXPECT_EQ(0, waitForPipeToGo(name.c_str(), 1));
    CloseHandle(other);
    CloseHandle(server);
    CloseHandle(overlapped.hEvent);
    EXPECT_EQ(1, waitForPipeToGo(name.c_str(), 1));
}

TEST(PipeClient, ASenderWaitsForABusyPipeForABoundedTime) {
    std::wstring name = uniquePipe(L"wait");
    HANDLE server = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ConnectNamedPipe(server, &overlapped);
    HANDLE first = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    // Busy for good: the sender gives up after its wait, saying why.
    EXPECT_EQ(INVALID_HANDLE_VALUE, openControlPipeWhenFree(name.c_str(), 50));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_BUSY), GetLastError());

    // Freed while a second sender waits: the second gets the instance.
    HANDLE second = INVALID_HANDLE_VALUE;
    std::thread sender([&] { second = openControlPipeWhenFree(name.c_str(), 60000); });
    CloseHandle(first);
    DisconnectNamedPipe(server);
    ResetEvent(overlapped.hEvent);
    ConnectNamedPipe(server, &overlapped);
    sender.join();
    EXPECT_NE(INVALID_HANDLE_VALUE, second);
    EXPECT_EQ(1, writeControlCode(second, 7));
    CloseHandle(second);
    CloseHandle(server);
    CloseHandle(overlapped.hEvent);
}

} // namespace
