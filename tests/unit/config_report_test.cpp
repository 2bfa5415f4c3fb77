// The installed-service report and its growing text buffer.
#include "config/config_file.h"
#include "settings/config_keys.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>

namespace {

TEST(AppendText, GrowsInStepsOfAThousandCharacters) {
    unsigned long capacity = 0;
    wchar_t* buffer = appendText(nullptr, &capacity, L"");
    EXPECT_EQ(nullptr, buffer);
    EXPECT_EQ(0ul, capacity);
    buffer = appendText(buffer, &capacity, L"abc");
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(1003ul, capacity);
    EXPECT_STREQ(L"abc", buffer);
    EXPECT_EQ(buffer, appendText(buffer, &capacity, nullptr));
    // 3 + 1000 characters would leave no room for the terminator: one step more.
    std::wstring fill(1000, L'x');
    buffer = appendText(buffer, &capacity, fill.c_str());
    EXPECT_EQ(2003ul, capacity);
    EXPECT_EQ(L"abc" + fill, buffer);
    // A long text takes all its steps at once and arrives whole.
    std::wstring big(5500, L'y');
    buffer = appendText(buffer, &capacity, big.c_str());
    EXPECT_EQ(7003ul, capacity);
    EXPECT_EQ(L"abc" + fill + big, buffer);
    free(buffer);
}

class ServiceReport : public ::testing::Test {
  protected:
    testsupport::ScratchService entry{L"BrontelReportTest"};
    std::wstring key = entry.key, params = entry.params;
    std::wstring dir = testsupport::makeScratchDir(L"report");
};

TEST_F(ServiceReport, LongValuesAreReportedWhole) {
    // A value left out would be lost when the saved report is installed again.
    std::wstring displayName(1999, L'd');
    std::wstring description(5000, L'e');
    std::wstring longClass(5000, L'c');
    // Only a service brontel installed is reported.
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"ImagePath",
                                               L"\"C:\\brontel\\brontel.exe\" -Z \"r\""));
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"DisplayName", displayName.c_str()));
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"Description", description.c_str()));
    ASSERT_TRUE(
        testsupport::setRegistryString(params.c_str(), L"IBrontelClass", longClass.c_str()));
    TraceCapture trace(L"reportlong");
    std::wstring path = dir + L"/long.conf";
    CConfigFile::showServiceInfo(entry.name.c_str(), path.c_str(), trace.get(), 1);
    CConfigFile reader(trace.get());
    ASSERT_EQ(0, reader.parseConfigFile(path.c_str(), 1));
    EXPECT_STREQ(displayName.c_str(), reader.getStrOptionValue(L"serviceDisplayName", nullptr));
    EXPECT_STREQ(description.c_str(), reader.getStrOptionValue(L"description", nullptr));
    EXPECT_STREQ(longClass.c_str(), reader.getStrOptionValue(L"ibrontelClass", nullptr));
}

} // namespace
