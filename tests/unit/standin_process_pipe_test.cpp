// Processes, named pipes and console events as the program uses them. The same tests run on
// the Linux stand-in and, under Wine, against the real API, so both are held to one behaviour.
#include "platform/winapi.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#endif

namespace {

using testsupport::failedWith;

// A test tool built beside this executable, quoted for a command line.
std::wstring tool(const wchar_t* name) {
    wchar_t path[4096];
    std::wstring self(path, GetModuleFileNameW(nullptr, path, 4096));
    bool windows = self.size() > 4 && self.compare(self.size() - 4, 4, L".exe") == 0;
    return L"\"" + self.substr(0, self.find_last_of(L"/\\") + 1) + name +
           (windows ? L".exe" : L"") + L"\"";
}

struct Started {
    BOOL ok;
    DWORD error;
    PROCESS_INFORMATION info;
};

Started start(std::wstring commandLine, DWORD flags = 0) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    Started started = {};
    started.ok = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                                nullptr, &startup, &started.info);
    started.error = started.ok ? 0 : GetLastError();
    return started;
}

DWORD finish(const Started& started) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.info.hProcess, INFINITE));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(started.info.hProcess, &code));
    CloseHandle(started.info.hThread);
    CloseHandle(started.info.hProcess);
    return code;
}

using testsupport::splitLines;

TEST(StandinProcess, ArgumentsSplitByTheWindowsRules) {
    std::wstring dir = testsupport::makeScratchDir(L"args");
    std::wstring out = dir + L"/args.txt";
    // Plain words, quoted blanks, backslashes before and away from quotes, empty and doubled
    // quotes, tabs, and characters beyond ASCII.
    std::wstring line = tool(L"proctool") + L" args \"" + out +
                        L"\" plain \"two words\" a\\b c\\\\\\\"d \"e\\\\\" \"\" \"x\"\"y\" "
                        L"tab\tsep q\\\"uote \u00e9t\u00e9";
    Started started = start(line);
    ASSERT_TRUE(started.ok) << started.error;
    EXPECT_EQ(0u, finish(started));
    std::vector<std::string> expected = {
        "plain", "two words", "a\\b",    "c\\\"d",           "e\\", "", "x\"y",
        "tab",   "sep",       "q\"uote", "\xc3\xa9t\xc3\xa9"};
    EXPECT_EQ(expected, splitLines(testsupport::readFileBytes(out)));
}

TEST(StandinProcess, ExitCodesOfEndedTerminatedAndMissingPrograms) {
    Started missing = start(L"brontel-no-such-program-4711 argument");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.error);

    Started ended = start(tool(L"proctool") + L" exit 7");
    ASSERT_TRUE(ended.ok) << ended.error;
    EXPECT_NE(0u, ended.info.dwProcessId);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended.info.hThread, INFINITE));
    EXPECT_EQ(7u, finish(ended));

    Started started = start(tool(L"proctool") + L" sleep");
    ASSERT_TRUE(started.ok) << started.error;
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(started.info.hProcess, 0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(started.info.hProcess, &code));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
    EXPECT_TRUE(TerminateProcess(started.info.hProcess, 9));
    EXPECT_EQ(9u, finish(started));
}

// ---- named pipes --------------------------------------------------------------------------

std::wstring uniquePipe(const wchar_t* tag) {
    return testsupport::uniqueName(L"\\\\.\\pipe\\standin-", tag);
}

HANDLE createServer(const std::wstring& name, DWORD maxInstances = 2) {
    return testsupport::createInboundPipe(name, maxInstances);
}

HANDLE openClient(const std::wstring& name) {
    return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

using testsupport::readSome;

// Starts another process that holds an instance of the pipe (of at most two), and waits until
// a client can connect to it.
Started holdInstance(const std::wstring& name) {
    Started holder = start(tool(L"pipetool") + L" hold " + name.substr(9) + L" 2");
    for (bool waiting = holder.ok; waiting;) {
        HANDLE probe = openClient(name);
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
            break;
        }
        DWORD error = GetLastError();
        waiting = error == ERROR_FILE_NOT_FOUND &&
                  WaitForSingleObject(holder.info.hProcess, 10) == WAIT_TIMEOUT;
        EXPECT_TRUE(waiting) << "error " << error << ", or the holder ended before serving";
    }
    return holder;
}

struct StandinPipe : ::testing::Test {
    OVERLAPPED overlapped = {};
    void SetUp() override { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    void TearDown() override { CloseHandle(overlapped.hEvent); }
};

TEST_F(StandinPipe, OpeningAPipeThatNobodyServesFails) {
    HANDLE client = openClient(uniquePipe(L"none"));
    EXPECT_TRUE(failedWith(client == INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND));
}

TEST_F(StandinPipe, ServesOneClientAtATimeAndListensAgain) {
    std::wstring name = uniquePipe(L"serve");
    HANDLE server = createServer(name, 1);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);

    // A client that comes before ConnectNamedPipe is already connected.
    HANDLE client = openClient(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, client) << GetLastError();
    EXPECT_TRUE(failedWith(!ConnectNamedPipe(server, &overlapped), ERROR_PIPE_CONNECTED));
    // The one instance is taken: another client is refused at once.
    HANDLE second = openClient(name);
    EXPECT_TRUE(failedWith(second == INVALID_HANDLE_VALUE, ERROR_PIPE_BUSY));

    DWORD code = 0x04030201;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(client, &code, 4, &written, nullptr));
    EXPECT_EQ(4u, written);
    CloseHandle(client);
    unsigned char bytes[8] = {};
    DWORD error = 0;
    EXPECT_EQ(4, readSome(server, overlapped, bytes, 4, error));
    EXPECT_EQ(1, bytes[0]);
    EXPECT_EQ(4, bytes[3]);
    // The writer has gone: the next read reports the end.
    EXPECT_EQ(-1, readSome(server, overlapped, bytes, 4, error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), error);

    // Disconnected and not yet listening again: busy.
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_TRUE(failedWith(openClient(name) == INVALID_HANDLE_VALUE, ERROR_PIPE_BUSY));

    // Listening: the connection completes later and signals the event.
    EXPECT_TRUE(failedWith(!ConnectNamedPipe(server, &overlapped), ERROR_IO_PENDING));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(overlapped.hEvent, 0));
    client = openClient(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, client) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, INFINITE));
    DWORD ignored = 0;
    EXPECT_TRUE(GetOverlappedResult(server, &overlapped, &ignored, FALSE));

    // A read that has to wait completes when the bytes arrive.
    ResetEvent(overlapped.hEvent);
    EXPECT_TRUE(failedWith(!ReadFile(server, bytes, 4, &ignored, &overlapped), ERROR_IO_PENDING));
    EXPECT_TRUE(WriteFile(client, "abcd", 4, &written, nullptr));
    DWORD got = 0;
    EXPECT_TRUE(GetOverlappedResult(server, &overlapped, &got, TRUE));
    EXPECT_GE(got, 1u);
    EXPECT_EQ('a', bytes[0]);
    CloseHandle(client);
    CloseHandle(server);
    EXPECT_TRUE(failedWith(openClient(name) == INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND));
}

TEST_F(StandinPipe, AClientThatLeftBeforeTheConnectCallIsReported) {
    std::wstring name = uniquePipe(L"gone");
    HANDLE server = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE client = openClient(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    CloseHandle(client);
    EXPECT_TRUE(failedWith(!ConnectNamedPipe(server, &overlapped), ERROR_NO_DATA));
    // After a disconnect the instance serves the next client.
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_TRUE(failedWith(!ConnectNamedPipe(server, &overlapped), ERROR_IO_PENDING));
    client = openClient(name);
    EXPECT_NE(INVALID_HANDLE_VALUE, client);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(overlapped.hEvent, INFINITE));
    CloseHandle(client);
    CloseHandle(server);
}

TEST_F(StandinPipe, CancelledConnectCompletesAsAborted) {
    std::wstring name = uniquePipe(L"cancel");
    HANDLE server = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    EXPECT_TRUE(failedWith(!ConnectNamedPipe(server, &overlapped), ERROR_IO_PENDING));
    DWORD ignored = 0;
    EXPECT_TRUE(failedWith(!GetOverlappedResult(server, &overlapped, &ignored, FALSE),
                           ERROR_IO_INCOMPLETE));
    EXPECT_TRUE(CancelIo(server));
    EXPECT_TRUE(failedWith(!GetOverlappedResult(server, &overlapped, &ignored, TRUE),
                           ERROR_OPERATION_ABORTED));
    CloseHandle(server);
}

// The instance limit holds across processes, and an instance that dies with its process frees
// its place.
TEST_F(StandinPipe, InstanceLimitAcrossProcesses) {
    std::wstring name = uniquePipe(L"limit");
    Started holder = holdInstance(name);
    ASSERT_TRUE(holder.ok) << holder.error;
    HANDLE mine = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, mine) << GetLastError();
    HANDLE third = createServer(name);
    EXPECT_TRUE(failedWith(third == INVALID_HANDLE_VALUE, ERROR_PIPE_BUSY));

    EXPECT_TRUE(TerminateProcess(holder.info.hProcess, 1));
    EXPECT_EQ(1u, finish(holder));
    third = createServer(name);
    EXPECT_NE(INVALID_HANDLE_VALUE, third) << GetLastError();
    CloseHandle(third);
    CloseHandle(mine);
}

// A pipe's server end tells how many instances the pipe has, its own and those of other
// processes: what a server that must be the only one asks after creating its instance.
TEST_F(StandinPipe, TheServerEndCountsThePipesInstances) {
    std::wstring name = uniquePipe(L"count");
    auto instances = [](HANDLE server) {
        DWORD count = 0;
        EXPECT_TRUE(GetNamedPipeHandleStateW(server, nullptr, &count, nullptr, nullptr, nullptr, 0))
            << GetLastError();
        return count;
    };
    HANDLE mine = createServer(name, 3);
    ASSERT_NE(INVALID_HANDLE_VALUE, mine) << GetLastError();
    EXPECT_EQ(1u, instances(mine));
    Started holder = start(tool(L"pipetool") + L" hold " + name.substr(9) + L" 3");
    ASSERT_TRUE(holder.ok) << holder.error;
    while (instances(mine) < 2) {
        ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(holder.info.hProcess, 10));
    }
    HANDLE another = createServer(name, 3);
    ASSERT_NE(INVALID_HANDLE_VALUE, another) << GetLastError();
    EXPECT_EQ(3u, instances(mine));
    CloseHandle(another);
    EXPECT_TRUE(TerminateProcess(holder.info.hProcess, 1));
    EXPECT_EQ(1u, finish(holder));
    EXPECT_EQ(1u, instances(mine));
    CloseHandle(mine);
}

#ifndef _WIN32

// Linux specifics of the stand-in: descriptors, sessions, reaping and signals.

// A server that asks for the first instance gets none while any instance exists, in this
// process or another, and gets it once they are all gone. (Wine does not refuse it.)
TEST_F(StandinPipe, AFirstInstanceIsRefusedWhileThePipeExists) {
    std::wstring name = uniquePipe(L"first");
    auto createFirst = [&]() {
        return CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 2, 4, 4, 500, nullptr);
    };
    HANDLE mine = createServer(name);
    ASSERT_NE(INVALID_HANDLE_VALUE, mine) << GetLastError();
    EXPECT_TRUE(failedWith(createFirst() == INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED));
    CloseHandle(mine);

    Started holder = holdInstance(name);
    ASSERT_TRUE(holder.ok) << holder.error;
    EXPECT_TRUE(failedWith(createFirst() == INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED));
    EXPECT_TRUE(TerminateProcess(holder.info.hProcess, 1));
    EXPECT_EQ(1u, finish(holder));
    HANDLE first = createFirst();
    EXPECT_NE(INVALID_HANDLE_VALUE, first) << GetLastError();
    EXPECT_TRUE(failedWith(createFirst() == INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED));
    CloseHandle(first);
}

TEST(StandinProcessLinux, ChildrenInheritNoDescriptors) {
    int leaky = open("/dev/null", O_RDONLY); // deliberately without close-on-exec
    ASSERT_GE(leaky, 3);
    wchar_t line[256];
    swprintf(line, 256, L"/bin/sh -c \"test -e /proc/$$/fd/%d && exit 1; exit 0\"", leaky);
    Started started = start(line);
    ASSERT_TRUE(started.ok) << started.error;
    EXPECT_EQ(0u, finish(started));
    close(leaky);
}

// The session and process group of a process, from /proc.
bool sessionOf(DWORD pid, long& group, long& session) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%lu/stat", static_cast<unsigned long>(pid));
    FILE* file = fopen(path, "r");
    if (file == nullptr) {
        return false;
    }
    char buffer[1024] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, file);
    fclose(file);
    buffer[n] = '\0';
    const char* afterName = strrchr(buffer, ')');
    char state;
    long parent;
    return afterName &&
           sscanf(afterName + 1, " %c %ld %ld %ld", &state, &parent, &group, &session) == 4;
}

TEST(StandinProcessLinux, NewConsoleMeansNewSession) {
    Started same = start(tool(L"proctool") + L" sleep");
    Started own = start(tool(L"proctool") + L" sleep", CREATE_NEW_CONSOLE);
    ASSERT_TRUE(same.ok && own.ok);
    long group = 0;
    long session = 0;
    ASSERT_TRUE(sessionOf(same.info.dwProcessId, group, session));
    EXPECT_EQ(getpgrp(), group);
    EXPECT_EQ(getsid(0), session);
    ASSERT_TRUE(sessionOf(own.info.dwProcessId, group, session));
    EXPECT_EQ(static_cast<long>(own.info.dwProcessId), session);
    TerminateProcess(same.info.hProcess, 0);
    TerminateProcess(own.info.hProcess, 0);
    finish(same);
    finish(own);
}

TEST(StandinProcessLinux, ProcessesWhoseHandlesAreClosedAreReaped) {
    Started started = start(tool(L"proctool") + L" exit 0");
    ASSERT_TRUE(started.ok);
    DWORD pid = started.info.dwProcessId;
    CloseHandle(started.info.hThread);
    CloseHandle(started.info.hProcess);
    // Reaped means gone from /proc; a zombie would stay there.
    char path[64];
    snprintf(path, sizeof path, "/proc/%lu", static_cast<unsigned long>(pid));
    int rounds = 0;
    while (access(path, F_OK) == 0 && rounds++ < 1000) {
        Sleep(10);
    }
    EXPECT_NE(0, access(path, F_OK)) << "process " << pid << " was left a zombie";
}

TEST(StandinConsoleLinux, HandlersNewestFirstThenTheEarlierAction) {
    std::wstring dir = testsupport::makeScratchDir(L"console");
    std::wstring out = dir + L"/events.txt";
    // A process group of its own, so the Ctrl+Break for "the console" reaches only the tool.
    Started started =
        start(tool(L"consoletool") + L" chain \"" + out + L"\"", CREATE_NEW_PROCESS_GROUP);
    ASSERT_TRUE(started.ok) << started.error;
    std::vector<std::string> before = {
        "second 0",                               // handled by the newest handler
        "second 0",   "first 0",    "previous 2", // declined by both: the earlier action
        "first 0",    "previous 2",               // the newest handler was removed
        "first 1",                                // Ctrl+Break for the group
        "previous 2",                             // raise(): not a console event
        "waiting 0",
    };
    // The tool's last line says it waits for the shutdown from outside.
    for (int rounds = 0;
         splitLines(testsupport::readFileBytes(out)).size() < before.size() && rounds < 6000;
         ++rounds) {
        ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(started.info.hProcess, 10));
    }
    EXPECT_EQ(before, splitLines(testsupport::readFileBytes(out)));
    kill(static_cast<pid_t>(started.info.dwProcessId), SIGTERM);
    // Nobody handles the shutdown: the default action ends the process by the signal.
    EXPECT_EQ(128u + SIGTERM, finish(started));
    std::vector<std::string> after = before;
    after.push_back("first 6");
    EXPECT_EQ(after, splitLines(testsupport::readFileBytes(out)));
}

#endif

} // namespace
