// The runtime's name tables for the trace and the quoting of relay command lines.
#include "runtime/control/command_text.h"
#include "runtime/service/executor.h"

#include <gtest/gtest.h>

#include <string>

TEST(RuntimeNames, StatesAndControlCodesHaveTheirNamesAndOthersReadUnknown) {
    EXPECT_STREQ(CExecutor::getStatusDescription(1), L"SERVICE_STOPPED");
    EXPECT_STREQ(CExecutor::getStatusDescription(4), L"SERVICE_RUNNING");
    EXPECT_STREQ(CExecutor::getStatusDescription(7), L"SERVICE_PAUSED");
    EXPECT_STREQ(CExecutor::getStatusDescription(0), L"Unknown");
    EXPECT_STREQ(CExecutor::getStatusDescription(8), L"Unknown");
    EXPECT_STREQ(CExecutor::getStatusDescription(0xFFFFFFFFu), L"Unknown");

    EXPECT_STREQ(CExecutor::getCtrlCodeDescription(1), L"SERVICE_CONTROL_STOP");
    EXPECT_STREQ(CExecutor::getCtrlCodeDescription(4), L"SERVICE_CONTROL_INTERROGATE");
    EXPECT_STREQ(CExecutor::getCtrlCodeDescription(10), L"SERVICE_CONTROL_NETBINDDISABLE");
    for (DWORD code : {0u, 11u, 13u, 128u, 250u, 251u}) {
        EXPECT_STREQ(CExecutor::getCtrlCodeDescription(code), L"Unknown") << code;
    }
}

TEST(RuntimeNames, QuotedArgumentsSurviveTheWindowsSplittingRules) {
    // A quote gets its own backslash; backslashes before it and before the end are doubled.
    const wchar_t* cases[][2] = {{L"My Service", L"\"My Service\""},
                                 {L"a\"b\\\"c\\", L"\"a\\\"b\\\\\\\"c\\\\\""},
                                 {L"C:\\dir\\x", L"\"C:\\dir\\x\""},
                                 {L"", L"\"\""}};
    for (const auto& c : cases) {
        std::wstring line = L"before ";
        appendQuotedArgument(line, c[0]);
        EXPECT_EQ(line, std::wstring(L"before ") + c[1]) << c[0];
    }
}

TEST(RuntimeNames, ExecutablePathIsTheRunningProgram) {
    std::wstring path = getExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.find(L"brontel_unit_tests"), std::wstring::npos);
}
