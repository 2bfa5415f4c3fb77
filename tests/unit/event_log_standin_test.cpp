// The stand-in's event log read back: records as Windows lays them out, newest first.
#ifndef _WIN32
#include "platform/winapi.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string.h>
#include <vector>

namespace {

using testsupport::failedWith;

EVENTLOGRECORD headerOf(const std::vector<BYTE>& area) {
    EVENTLOGRECORD header;
    memcpy(&header, area.data(), sizeof header);
    return header;
}

} // namespace

TEST(EventLogStandIn, ReadsRecordsBackNewestFirstAsWindowsLaysThemOut) {
    const wchar_t* source = L"EventLogReadTest";
    HANDLE writer = RegisterEventSourceW(nullptr, source);
    ASSERT_NE(writer, nullptr);
    const wchar_t* older[] = {L"one", L"two"};
    const wchar_t* newer[] = {L"three"};
    ASSERT_TRUE(ReportEventW(writer, EVENTLOG_ERROR_TYPE, 0, 5, nullptr, 2, 0, older, nullptr));
    ASSERT_TRUE(ReportEventW(writer, EVENTLOG_WARNING_TYPE, 0, 6, nullptr, 1, 0, newer, nullptr));
    DeregisterEventSource(writer);

    HANDLE log = OpenEventLogW(nullptr, L"Application");
    ASSERT_NE(log, nullptr);
    const DWORD flags = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ;
    DWORD read = 0;
    DWORD needed = 0;
    BYTE small[16];
    EXPECT_TRUE(failedWith(!ReadEventLogW(log, flags, 0, small, sizeof small, &read, &needed),
                           ERROR_INSUFFICIENT_BUFFER));
    // Exactly the size asked for holds the record, its length at both ends.
    std::vector<BYTE> area(needed);
    ASSERT_TRUE(ReadEventLogW(log, flags, 0, area.data(), needed, &read, &needed));
    EVENTLOGRECORD header = headerOf(area);
    EXPECT_EQ(header.Length, read);
    EXPECT_EQ(read, area.size());
    DWORD trailing = 0;
    memcpy(&trailing, area.data() + read - sizeof trailing, sizeof trailing);
    EXPECT_EQ(trailing, read);
    EXPECT_EQ(header.EventID, 6u);
    EXPECT_EQ(header.EventType, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(header.NumStrings, 1);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(area.data() + sizeof header), source);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(area.data() + header.StringOffset), L"three");

    area.assign(64 * 1024, 0);
    ASSERT_TRUE(ReadEventLogW(log, flags, 0, area.data(), 64 * 1024, &read, &needed));
    header = headerOf(area);
    EXPECT_EQ(header.EventID, 5u);
    const wchar_t* strings = reinterpret_cast<const wchar_t*>(area.data() + header.StringOffset);
    EXPECT_STREQ(strings, L"one");
    EXPECT_STREQ(strings + 4, L"two");
    EXPECT_TRUE(CloseEventLog(log));
}
#endif
