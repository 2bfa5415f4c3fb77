// Output capture: the settings' rules, the capture file's rotation at line boundaries, the
// timestamps, the logger's recording of a failure's messages, and the event log's hold-back.
#include "runtime/capture/capture_settings.h"
#include "runtime/capture/capture_stream.h"
#include "runtime/events/event_ids.h"
#include "runtime/events/event_reporter.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <regex>
#include <string>
#include <vector>

using testsupport::makeScratchDir;
using testsupport::readFileBytes;
using testsupport::splitLines;

TEST(CaptureSettings, ValuesAreRefusedOutsideTheirRules) {
    struct Case {
        const wchar_t* text;
        int rotateOk, keepOk;
    } cases[] = {{L"0", 1, 1},          {L"999", 1, 1},        {L"1000", 1, 0},
                 {L"4294967295", 1, 0}, {L"4294967296", 0, 0}, {L"99999999999999999999", 0, 0},
                 {L"", 0, 0},           {L"-1", 0, 0},         {L" 5", 0, 0},
                 {L"10M", 0, 0},        {L"0x10", 0, 0}};
    for (const Case& c : cases) {
        DWORD value = 12345;
        EXPECT_EQ(parseRotateBytes(c.text, &value), c.rotateOk) << c.text;
        EXPECT_EQ(parseKeepFiles(c.text, &value), c.keepOk) << c.text;
    }
    DWORD value = 0;
    ASSERT_TRUE(parseRotateBytes(L"4294967295", &value));
    EXPECT_EQ(value, 4294967295u);
    int flag = -1;
    EXPECT_TRUE(parseTimestamps(L"tRuE", &flag) && flag == 1);
    EXPECT_TRUE(parseTimestamps(L"FALSE", &flag) && flag == 0);
    EXPECT_FALSE(parseTimestamps(L"yes", &flag));
    EXPECT_FALSE(parseTimestamps(L"1", &flag));
    EXPECT_TRUE(sameCapturePath(L"C:\\Logs\\Out.log", L"c:\\logs\\out.LOG"));
    // One file however it is spelled: two writers would rotate it from under each other.
    EXPECT_TRUE(sameCapturePath(L"/logs/app/out.log", L"/logs//app/./x/../out.log"));
    EXPECT_FALSE(sameCapturePath(L"/logs/app/out.log", L"/logs/out.log"));
    EXPECT_FALSE(sameCapturePath(L"out.log", nullptr));
}

namespace {
std::vector<std::string> series(const std::wstring& path, int keep) {
    // Oldest first: path.keep ... path.1, path; each file's content as one string.
    std::vector<std::string> files;
    for (int n = keep; n >= 1; --n) {
        std::string bytes = readFileBytes(path + L"." + std::to_wstring(n));
        if (!bytes.empty()) {
            files.push_back(bytes);
        }
    }
    files.push_back(readFileBytes(path));
    return files;
}
} // namespace

TEST(RotatingFile, RotatesOnlyAtLineEndsWhateverPiecesTheLinesArriveIn) {
    TraceCapture trace(L"rotate");
    std::wstring path = makeScratchDir(L"rotate") + L"/out.log";
    std::string all;
    for (int i = 0; i < 200; ++i) {
        // Lines of varying length, one longer than the limit.
        all += "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 17), '.') + "\n";
        if (i == 100) {
            all += std::string(150, 'L') + "\n";
        }
    }
    {
        CRotatingFile file(path.c_str(), L"standard output", 100, 999, trace.get(), nullptr);
        // Pieces of 1 to 7 bytes: lines are cut anywhere on their way in.
        for (size_t at = 0, step = 1; at < all.size(); at += step, step = step % 7 + 1) {
            size_t n = std::min(step, all.size() - at);
            file.write(all.data() + at, static_cast<DWORD>(n));
        }
    }
    std::vector<std::string> files = series(path, 999);
    ASSERT_GT(files.size(), 20u);
    std::string joined;
    for (const std::string& content : files) {
        ASSERT_FALSE(content.empty());
        EXPECT_EQ(content.back(), '\n');
        // A file ends at the limit, or past it only by the line it had begun before the line's
        // end arrived (or by a single line longer than the limit).
        size_t lastLine = content.size() - content.rfind('\n', content.size() - 2) - 1;
        EXPECT_TRUE(content.size() <= 100 || content.size() - lastLine <= 100 ||
                    splitLines(content).size() == 1)
            << content;
        joined += content;
    }
    EXPECT_EQ(joined, all);
}

TEST(RotatingFile, KeepsTheNumberAskedAndNoneWithZero) {
    TraceCapture trace(L"keep");
    std::wstring dir = makeScratchDir(L"keep");
    std::string line = std::string(40, 'x') + "\n";
    for (DWORD keep : {0u, 2u}) {
        std::wstring path = dir + L"/k" + std::to_wstring(keep) + L".log";
        {
            CRotatingFile file(path.c_str(), L"standard output", 100, keep, trace.get(), nullptr);
            for (int i = 0; i < 20; ++i) {
                std::string numbered = std::to_string(i) + line;
                file.write(numbered.data(), static_cast<DWORD>(numbered.size()));
            }
        }
        EXPECT_EQ(readFileBytes(path + L"." + std::to_wstring(keep + 1)), "");
        std::vector<std::string> files = series(path, static_cast<int>(keep));
        ASSERT_EQ(files.size(), keep + 1);
        // The newest lines survive: the last file ends with line 19.
        EXPECT_EQ(files.back().substr(files.back().rfind("19x")), "19" + line);
    }
}

TEST(RotatingFile, AFileThatCannotBeOpenedIsTracedOnceAndCountsWhatIsLost) {
    TraceCapture trace(L"lost");
    // A file where its folder should be: the folder can be neither opened nor created.
    std::wstring blocked = makeScratchDir(L"lost") + L"/blocked";
    ASSERT_TRUE(testsupport::writeFileBytes(blocked, "not a folder\n"));
    std::wstring path = blocked + L"/out.log";
    {
        CRotatingFile file(path.c_str(), L"standard output", 0, 5, trace.get(), nullptr);
        for (int i = 0; i < 5; ++i) {
            file.write("abc\n", 4);
        }
    }
    int failures = 0;
    for (const std::string& line : trace.lines()) {
        failures += line.rfind("Cannot write the captured output to ", 0) == 0;
    }
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(trace.lines().back(), "Output capture ended while failing; bytes lost: 20");
}

namespace {
// The clock of daily rotation, moved by the test; starts at 23:59:59 of today, local time, so
// that the files the test writes (with today's real time) are of the clock's first day.
time_t clockSeconds;
void WINAPI testClock(FILETIME* now) {
    unsigned long long ticks =
        (static_cast<unsigned long long>(clockSeconds) + 11644473600ull) * 10000000ull;
    now->dwLowDateTime = static_cast<DWORD>(ticks);
    now->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
time_t lastSecondOfToday() {
    time_t now = time(nullptr);
    struct tm fields = *localtime(&now);
    fields.tm_hour = 23;
    fields.tm_min = 59;
    fields.tm_sec = 59;
    fields.tm_isdst = -1;
    return mktime(&fields);
}
// Two hours into the day `days` after the first (two hours: clear of daylight saving shifts).
time_t dayAfter(time_t first, int days) {
    return first + 1 + 2 * 3600 + days * 86400;
}
// The capture folder's out.<date of t><rest> file.
std::string datedFile(const std::wstring& dir, time_t t, const char* rest) {
    char date[16];
    strftime(date, sizeof date, "%Y-%m-%d", localtime(&t));
    return readFileBytes(dir + L"/out." + std::wstring(date, date + strlen(date)) +
                         std::wstring(rest, rest + strlen(rest)));
}
struct DailyFile {
    CRotatingFile file;
    DailyFile(const std::wstring& path, DWORD rotateBytes, DWORD keep, TraceCapture& trace)
        : file(path.c_str(), L"standard output", rotateBytes, keep, trace.get(), nullptr) {
        file.rotateDaily(testClock);
        EXPECT_EQ(file.prepare(), 0);
    }
    void write(const char* line) { file.write(line, static_cast<DWORD>(strlen(line))); }
};
} // namespace

TEST(RotatingFile, ByDayTheOutputOfEachDayGoesUnderItsDate) {
    TraceCapture trace(L"daily");
    time_t first = lastSecondOfToday();
    // Midnight, then the first line after days without output: named by the day written.
    std::wstring dir = makeScratchDir(L"daily");
    clockSeconds = first;
    {
        DailyFile daily(dir + L"/out.log", 0, 5, trace);
        daily.write("before midnight\n");
        clockSeconds = first + 2;
        daily.write("after midnight\nand a line in ");
        clockSeconds = dayAfter(first, 4);
        daily.write("two pieces\n"); // a line is never split across days
        daily.write("days later\n");
    }
    EXPECT_EQ(datedFile(dir, first, ".log"), "before midnight\n");
    EXPECT_EQ(datedFile(dir, first + 2, ".log"), "after midnight\nand a line in two pieces\n");
    EXPECT_EQ(readFileBytes(dir + L"/out.log"), "days later\n");
    EXPECT_EQ(datedFile(dir, dayAfter(first, 4), ".log"), "");

    // Restarts: the same day goes on in the file; a later one first moves it to its date.
    dir = makeScratchDir(L"restart");
    clockSeconds = first;
    for (const char* line : {"first run\n", "second run\n"}) {
        DailyFile(dir + L"/out.log", 0, 5, trace).write(line);
    }
    EXPECT_EQ(readFileBytes(dir + L"/out.log"), "first run\nsecond run\n");
    clockSeconds = dayAfter(first, 2);
    {
        DailyFile later(dir + L"/out.log", 0, 5, trace);
        EXPECT_EQ(datedFile(dir, first, ".log"), "first run\nsecond run\n");
        EXPECT_EQ(readFileBytes(dir + L"/out.log"), "");
    }

    // With size rotation: a day of several files numbers them in order; the newest are kept.
    dir = makeScratchDir(L"dailysize");
    clockSeconds = first;
    {
        DailyFile daily(dir + L"/out.log", 10, 3, trace);
        for (const char* line : {"aaaa1\n", "aaaa2\n", "aaaa3\n"}) {
            daily.write(line);
        }
        clockSeconds = first + 2;
        daily.write("bbbb1\n");
        daily.write("bbbb2\n");
        clockSeconds = dayAfter(first, 1);
        daily.write("cccc1\n");
    }
    EXPECT_EQ(datedFile(dir, first, ".1.log"), "");
    EXPECT_EQ(datedFile(dir, first, ".2.log"), "");
    EXPECT_EQ(datedFile(dir, first, ".3.log"), "aaaa3\n");
    EXPECT_EQ(datedFile(dir, first + 2, ".1.log"), "bbbb1\n");
    EXPECT_EQ(datedFile(dir, first + 2, ".2.log"), "bbbb2\n");
    EXPECT_EQ(readFileBytes(dir + L"/out.log"), "cccc1\n");
}

TEST(CaptureStream, TimestampsStartEveryLineAndOnlyLines) {
    TraceCapture trace(L"stamps");
    std::wstring path = makeScratchDir(L"stamps") + L"/out.log";
    {
        CCaptureStream stream(
            new CRotatingFile(path.c_str(), L"standard output", 0, 5, trace.get(), nullptr), 1);
        for (const char* piece : {"first li", "ne\nsecond\n", "\nfourth", " line\n"}) {
            stream.consume(piece, static_cast<DWORD>(strlen(piece)));
        }
    }
    std::vector<std::string> lines = splitLines(readFileBytes(path));
    std::vector<std::string> expected = {"first line", "second", "", "fourth line"};
    ASSERT_EQ(lines.size(), expected.size());
    std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_GT(lines[i].size(), 23u);
        EXPECT_TRUE(std::regex_match(lines[i].substr(0, 24), stamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(24), expected[i]);
    }
}

namespace {
DWORD WINAPI logFromOtherThread(LPVOID logger) {
    static_cast<CLogger*>(logger)->logMessage(L"from another thread");
    return 0;
}
void logFromAnotherThread(CLogger& logger) {
    HANDLE thread = CreateThread(nullptr, 0, logFromOtherThread, &logger, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
// The messages the logger kept, or "<none>".
std::wstring takeKept(CLogger& logger) {
    wchar_t* text = logger.takeKeptMessages();
    std::wstring kept = text != nullptr ? text : L"<none>";
    free(text);
    return kept;
}
} // namespace

TEST(LoggerRecording, KeepsThisThreadsLatestMessagesTracedOrNot) {
    CLogger logger; // no trace file in the unit-test root
    logger.enableLogFile(nullptr);
    logger.startKeeping(KEEP_THIS_THREAD);
    logger.logMessage(L"first ", L"message");
    logger.logEntry(L"Entry lines are not kept");
    logger.logMessage(L"a number", static_cast<DWORD>(42));
    logger.logSystemError(ERROR_FILE_NOT_FOUND);
    logFromAnotherThread(logger);
    std::wstring recorded = takeKept(logger);
    // The two messages and the system's text for the error, its own line end trimmed; nothing
    // of the entry line or of the other thread.
    std::wstring head = L"first message\r\na number 42\r\n";
    EXPECT_EQ(recorded.substr(0, head.size()), head);
    std::wstring last = recorded.substr(head.size());
    EXPECT_GT(last.size(), 4u);
    EXPECT_EQ(last.find(L"\r\n"), last.size() - 2) << testsupport::narrow(last);
    logger.logMessage(L"after the recording");
    EXPECT_EQ(takeKept(logger), L"<none>");

    logger.startKeeping(KEEP_THIS_THREAD);
    for (int i = 0; i < 2000; ++i) {
        logger.logMessage(L"message number ", static_cast<DWORD>(i));
    }
    recorded = takeKept(logger);
    EXPECT_LE(recorded.size(), size_t{CLogger::keptTextChars});
    EXPECT_EQ(recorded.rfind(L"message number  1999\r\n"), recorded.size() - 22);
    EXPECT_EQ(recorded.rfind(L"message number ", 0), 0u); // whole lines dropped, oldest first
}

TEST(LoggerKeeping, DevelopmentModeKeepsEveryThreadsLatestMessagesOutsideJavasRun) {
    CLogger logger;
    logger.enableLogFile(nullptr);
    logger.startKeeping(KEEP_ALL_THREADS);
    logger.logMessage(L"before");
    logger.logEntry(L"Entry lines are not kept");
    logFromAnotherThread(logger);
    logger.pauseKeeping(1);
    logger.logMessage(L"while Java runs");
    logger.pauseKeeping(0);
    logger.logMessage(L"after", L" Java");
    testing::internal::CaptureStderr();
    logger.printKeptMessages();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "before\nfrom another thread\nafter Java\n");
    // Printing ends the keeping.
    logger.logMessage(L"not kept");
    EXPECT_EQ(takeKept(logger), L"<none>");

    // The last hundred, each cut to its bound.
    logger.startKeeping(KEEP_ALL_THREADS);
    logger.logMessage(std::wstring(CLogger::keptMessageChars + 10, L'x').c_str());
    for (int i = 0; i < 150; ++i) {
        logger.logMessage(L"message number ", static_cast<DWORD>(i));
    }
    std::wstring kept = takeKept(logger);
    EXPECT_EQ(kept.find(L"x"), std::wstring::npos);
    EXPECT_EQ(kept.find(L"message number  50\r\n"), 0u);
    EXPECT_EQ(kept.size() - kept.rfind(L"message number  149\r\n"), 21u);

    logger.startKeeping(KEEP_ALL_THREADS);
    logger.logMessage(std::wstring(CLogger::keptMessageChars + 10, L'y').c_str(), L"\r\n");
    EXPECT_EQ(takeKept(logger), std::wstring(CLogger::keptMessageChars, L'y') + L"\r\n");
}

#ifndef _WIN32
TEST(EventReporter, RepeatsWithinTheQuietTimeAreCountedInOneEntry) {
    std::wstring source = testsupport::uniqueName(L"evsrc", L"quiet");
    std::string log = std::string(getenv("BRONTEL_ROOT")) + "/eventlog/Application.jsonl";
    TraceCapture trace(L"events");
    {
        CEventReporter events(source.c_str(), trace.get(), 3600000);
        const wchar_t* strings[] = {source.c_str(), L"standard output", L"out.log", L"full"};
        EXPECT_EQ(events.report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_CAPTURE_FAILED, strings, 4), 1);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(events.report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_CAPTURE_FAILED, strings, 4),
                      0);
        }
        const wchar_t* other[] = {source.c_str(), L"SERVICE_RUNNING"};
        EXPECT_EQ(events.report(EVENTLOG_ERROR_TYPE, BRONTEL_EVENT_JAVA_ENDED, other, 2), 1);
    }
    std::string name(source.begin(), source.end());
    std::vector<std::string> mine;
    for (const std::string& line :
         splitLines(readFileBytes(std::wstring(log.begin(), log.end())))) {
        if (line.find("\"source\": \"" + name + "\"") != std::string::npos) {
            mine.push_back(line.substr(line.find("\"type\"")));
        }
    }
    ASSERT_EQ(mine.size(), 3u);
    EXPECT_EQ(mine[0].substr(0, 35), "\"type\": 1, \"category\": 0, \"id\": 3, ");
    EXPECT_EQ(mine[1].substr(0, 35), "\"type\": 1, \"category\": 0, \"id\": 2, ");
    // Written as the reporter ends: three held back, of event 3.
    EXPECT_NE(mine[2].find("\"id\": 7,"), std::string::npos);
    EXPECT_NE(mine[2].find("\"3\", \"3\"]"), std::string::npos) << mine[2];
}
#endif
