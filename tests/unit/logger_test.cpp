#include "test_support.h"
#include "trace/logger.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring traceFile(const wchar_t* tag) {
    return testsupport::makeScratchDir(tag) + L"/trace.log";
}

using testsupport::splitLines;

std::string threadPrefix() {
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%08X ", static_cast<unsigned>(GetCurrentThreadId()));
    return prefix;
}

// Every form of line, appended whole after what the file held, however long.
TEST(Logger, WritesEntryExitMessageAndSystemErrorFormsAfterTheFilesContent) {
    std::wstring path = traceFile(L"forms");
    ASSERT_TRUE(testsupport::writeFileBytes(path, "old line\n"));
    {
        CLogger logger;
        logger.enableLogFile(path.c_str());
        logger.logEntry(L"CJvm::initialize");
        logger.logEntry(L"CExecutor::setServiceStatus", 3);
        logger.logExit(L"CJvm::initialize", 13);
        logger.logMessage(L"Failed to create Java VM rc=", static_cast<DWORD>(-1));
        logger.logMessage(L"only", nullptr, nullptr);
        logger.logMessage(L"a", L"b", L"c");
        logger.logMessage(L"big", 0x80000000u);
        logger.logMessage(std::wstring(5000, L'x').c_str(), L"-end");
        logger.logSystemError(ERROR_FILE_NOT_FOUND);
    }
    std::string p = threadPrefix();
    std::vector<std::string> got = splitLines(testsupport::readFileBytes(path));
    // The system's text keeps its own line break: its line ends in CR, an empty line follows.
    ASSERT_EQ(11u, got.size());
    EXPECT_EQ("", got[10]);
    EXPECT_EQ(0u, got[9].find(p));
    EXPECT_LT(p.size() + 1, got[9].size());
    EXPECT_EQ('\r', got[9].back());
    got.resize(9);
    std::vector<std::string> want = {"old line",
                                     p + "CJvm::initialize Entry",
                                     p + "CExecutor::setServiceStatus Entry 3",
                                     p + "CJvm::initialize Exit 13",
                                     p + "Failed to create Java VM rc= -1",
                                     p + "only",
                                     p + "abc",
                                     p + "big -2147483648",
                                     p + std::string(5000, 'x') + "-end"};
    EXPECT_EQ(want, got);
}

TEST(Logger, PrivateDetailGoesToTheTraceButNotIntoTheRecording) {
    std::wstring path = traceFile(L"private");
    CLogger logger;
    logger.enableLogFile(path.c_str());
    logger.startKeeping(KEEP_THIS_THREAD);
    logger.logPrivateMessage(L"Executing command: ", L"/bin/prep --password=S3cret",
                             L"/bin/prep (arguments left out)");
    wchar_t* recorded = logger.takeKeptMessages();
    ASSERT_NE(nullptr, recorded);
    EXPECT_STREQ(L"Executing command: /bin/prep (arguments left out)\r\n", recorded);
    free(recorded);
    EXPECT_EQ(threadPrefix() + "Executing command: /bin/prep --password=S3cret\n",
              testsupport::readFileBytes(path));
}

TEST(Logger, UnopenablePathLeavesLoggerWithoutFile) {
    std::wstring dir = testsupport::makeScratchDir(L"badpath");
    CLogger logger;
    logger.enableLogFile((dir + L"/missing/dir/trace.log").c_str());
    EXPECT_EQ(0, logger.isFileEnabled());
    logger.logEntry(L"nothing");
    logger.logMessage(L"nothing either");
    // A directory is not a file either.
    logger.enableLogFile(dir.c_str());
    EXPECT_EQ(0, logger.isFileEnabled());
}

// Two threads on one logger, and two loggers with handles of their own on one file (as two
// processes tracing into it): each line must land whole at the end, never over another's.
TEST(Logger, ConcurrentWritersKeepEveryLineWhole) {
    const int perWriter = 400;
    for (bool separate : {false, true}) {
        SCOPED_TRACE(separate ? "two loggers" : "one logger");
        std::wstring path = traceFile(L"threads");
        {
            CLogger first;
            CLogger second;
            first.enableLogFile(path.c_str());
            second.enableLogFile(path.c_str());
            auto worker = [&](CLogger* logger, wchar_t fill) {
                std::wstring text(150, fill);
                for (int i = 0; i < perWriter; ++i) {
                    logger->logMessage(text.c_str(), L"|", L"done");
                }
            };
            std::thread a(worker, &first, L'a');
            std::thread b(worker, separate ? &second : &first, L'b');
            a.join();
            b.join();
        }
        std::vector<std::string> got = splitLines(testsupport::readFileBytes(path));
        ASSERT_EQ(static_cast<size_t>(2 * perWriter), got.size());
        int perFill[2] = {0, 0};
        for (const std::string& line : got) {
            ASSERT_EQ(9u + 150u + 5u, line.size()) << line;
            char fill = line[9];
            ASSERT_TRUE(fill == 'a' || fill == 'b') << line;
            EXPECT_EQ(std::string(150, fill) + "|done", line.substr(9));
            ++perFill[fill - 'a'];
        }
        EXPECT_EQ(perWriter, perFill[0]);
        EXPECT_EQ(perWriter, perFill[1]);
    }
}

// A process that holds the trace file's lock and never lets go (suspended in a debugger, say)
// must not hang another that traces: the line is written after a bounded wait, and the lines
// after it without waiting again.
TEST(Logger, LockHeldElsewhereDoesNotHangTracing) {
    std::wstring path = traceFile(L"heldlock");
    HANDLE holder = testsupport::openShared(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    OVERLAPPED range = {};
    range.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range));
    {
        CLogger logger;
        logger.enableLogFile(path.c_str());
        for (int i = 0; i < 50; ++i) {
            logger.logMessage(L"still tracing");
        }
    }
    CloseHandle(holder);
    std::vector<std::string> got = splitLines(testsupport::readFileBytes(path));
    ASSERT_EQ(50u, got.size());
    EXPECT_EQ(threadPrefix() + "still tracing", got[49]);
}

} // namespace
