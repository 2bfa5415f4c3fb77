// The runtime's name tables for the trace and the quoting of relay command lines.
#include "runtime/control/command_text.h"
#include "registry/service_names.h"

#include <gtest/gtest.h>

#include <string>

TEST(RuntimeNames, StatesAndControlCodesHaveTheirNamesAndOthersReadUnknown) {
    EXPECT_STREQ(serviceStateName(1), L"SERVICE_STOPPED");
    EXPECT_STREQ(serviceStateName(3), L"SERVICE_STOP_PENDING");
    EXPECT_STREQ(serviceStateName(4), L"SERVICE_RUNNING");
    EXPECT_STREQ(serviceStateName(7), L"SERVICE_PAUSED");
    EXPECT_STREQ(serviceStateName(0), L"Unknown");
    EXPECT_STREQ(serviceStateName(8), L"Unknown");
    EXPECT_STREQ(serviceStateName(0xFFFFFFFFu), L"Unknown");

    EXPECT_STREQ(controlCodeName(1), L"SERVICE_CONTROL_STOP");
    EXPECT_STREQ(controlCodeName(4), L"SERVICE_CONTROL_INTERROGATE");
    EXPECT_STREQ(controlCodeName(10), L"SERVICE_CONTROL_NETBINDDISABLE");
    for (DWORD code : {0u, 11u, 13u, 128u, 250u, 251u}) {
        EXPECT_STREQ(controlCodeName(code), L"Unknown") << code;
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
