// The senders' side of the control pipe: the message format, the wait for a busy pipe, and the
// restart's wait for a running instance to let its pipe go.
#include "runtime/control/pipe_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

using testsupport::failedWith;

// A server instance of a pipe of its own, not yet listening, and an event for its overlapped calls.
class PipeClient : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(INVALID_HANDLE_VALUE, server);
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        if (server != INVALID_HANDLE_VALUE) {
            CloseHandle(server);
        }
        CloseHandle(overlapped.hEvent);
    }
    std::wstring name = testsupport::uniqueName(L"\\\\.\\pipe\\client-", L"p");
    HANDLE server = testsupport::createInboundPipe(name, 1);
    OVERLAPPED overlapped = {};
};

TEST_F(PipeClient, CodeTravelsAsFourLittleEndianBytes) {
    HANDLE client = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, client) << GetLastError();
    EXPECT_EQ(1, writeControlCode(client, 0xFB020301u));
    CloseHandle(client);
    unsigned char bytes[4] = {};
    DWORD error = 0;
    EXPECT_EQ(4, testsupport::readSome(server, overlapped, bytes, 4, error)) << error;
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0x03, bytes[1]);
    EXPECT_EQ(0x02, bytes[2]);
    EXPECT_EQ(0xFB, bytes[3]);
}

TEST_F(PipeClient, NobodyServingMeansGone) {
    std::wstring other = testsupport::uniqueName(L"\\\\.\\pipe\\client-", L"gone");
    EXPECT_EQ(INVALID_HANDLE_VALUE, openControlPipe(other.c_str()));
    EXPECT_EQ(1, waitForPipeToGo(other.c_str(), 1));
}

TEST_F(PipeClient, AServedOrBusyPipeIsStillThere) {
    EXPECT_EQ(0, waitForPipeToGo(name.c_str(), 1));
    // The one instance is taken by another client: busy, not gone.
    DisconnectNamedPipe(server);
    ConnectNamedPipe(server, &overlapped);
    HANDLE other = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_TRUE(failedWith(openControlPipe(name.c_str()) == INVALID_HANDLE_VALUE, ERROR_PIPE_BUSY));
    EXPECT_EQ(0, waitForPipeToGo(name.c_str(), 1));
    CloseHandle(other);
    CloseHandle(server);
    server = INVALID_HANDLE_VALUE;
    EXPECT_EQ(1, waitForPipeToGo(name.c_str(), 1));
}

TEST_F(PipeClient, ASenderWaitsForABusyPipeForABoundedTime) {
    ConnectNamedPipe(server, &overlapped);
    HANDLE first = openControlPipe(name.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    // Busy for good: the sender gives up after its wait, saying why.
    EXPECT_TRUE(failedWith(openControlPipeWhenFree(name.c_str(), 50) == INVALID_HANDLE_VALUE,
                           ERROR_PIPE_BUSY));

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
}

} // namespace
