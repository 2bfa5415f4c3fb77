// The installed-service report and its growing text buffer.
#include "config/config_file.h"
#include "platform/textutil.h"
#include "registry/config_keys.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <vector>

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

std::wstring uniqueService() {
    static int counter = 0;
    wchar_t name[100];
    swprintf(name, 100, L"BrontelReportTest%lu_%d",
             static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
    return name;
}

bool setDword(const std::wstring& keyPath, const wchar_t* name, DWORD number) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LSTATUS rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof(number));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

class ServiceReport : public ::testing::Test {
  protected:
    void SetUp() override {
        service = uniqueService();
        key = std::wstring(BRONTEL_SERVICES_KEY) + L"\\" + service;
        params = key + L"\\" + BRONTEL_PARAMETERS_SUBKEY;
        dir = testsupport::makeScratchDir(L"report");
    }
    void TearDown() override { testsupport::deleteRegistryTree(key.c_str()); }
    std::wstring service, key, params, dir;
};

TEST_F(ServiceReport, SavedReportReadsBackLineForLine) {
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"DisplayName", L"Report \u00e9 Test"));
    ASSERT_TRUE(setDword(key, L"Type", 0x110));
    ASSERT_TRUE(setDword(key, L"Start", 4));
    ASSERT_TRUE(setDword(key, L"ErrorControl", 3));
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"ImagePath",
                                               L"\"C:\\bin\\brontel.exe\" -Z \"svc\""));
    ASSERT_TRUE(testsupport::setRegistryString(params.c_str(), L"IBrontelClass", L"a.B"));
    ASSERT_TRUE(testsupport::setRegistryString(params.c_str(), L"JVMOption1", L"-Dx=%BRT_R%"));
    SetEnvironmentVariableW(L"BRT_R", L"expanded");

    for (int unicode = 0; unicode <= 1; ++unicode) {
        TraceCapture trace(L"reportfile");
        std::wstring path = dir + (unicode ? L"/w.conf" : L"/a.conf");
        CConfigFile::showServiceInfo(service.c_str(), path.c_str(), trace.get(), unicode);
        std::string bytes = testsupport::readFileBytes(path);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(std::string::npos, bytes.find('\r'));
        CConfigFile reader(trace.get());
        ASSERT_EQ(0, reader.parseConfigFile(path.c_str(), unicode));
        EXPECT_EQ(8, reader.getOptionCount());
        EXPECT_STREQ(L"Report \u00e9 Test",
                     reader.getStrOptionValue(L"serviceDisplayName", nullptr));
        EXPECT_STREQ(service.c_str(), reader.getStrOptionValue(L"serviceName", nullptr));
        EXPECT_STREQ(L"TRUE", reader.getStrOptionValue(L"interactiveService", nullptr));
        EXPECT_STREQ(L"SERVICE_DISABLED", reader.getStrOptionValue(L"startType", nullptr));
        EXPECT_STREQ(L"SERVICE_ERROR_CRITICAL", reader.getStrOptionValue(L"errorControl", nullptr));
        EXPECT_STREQ(L"C:\\bin\\brontel.exe", reader.getStrOptionValue(L"binaryPath", nullptr));
        EXPECT_STREQ(L"a.B", reader.getStrOptionValue(L"ibrontelClass", nullptr));
        // Kept as stored in a saved file.
        EXPECT_STREQ(L"-Dx=%BRT_R%", reader.getStrOptionValue(L"jvmOption1", nullptr));
    }
    SetEnvironmentVariableW(L"BRT_R", nullptr);
}

TEST_F(ServiceReport, ValuesTooLongForTheBufferAreLeftOut) {
    std::wstring fits(1999, L'd');
    std::wstring tooLong(2000, L'e');
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"DisplayName", fits.c_str()));
    ASSERT_TRUE(testsupport::setRegistryString(key.c_str(), L"Description", tooLong.c_str()));
    // Parameters values have no such limit.
    std::wstring longClass(5000, L'c');
    ASSERT_TRUE(
        testsupport::setRegistryString(params.c_str(), L"IBrontelClass", longClass.c_str()));
    TraceCapture trace(L"reportlong");
    std::wstring path = dir + L"/long.conf";
    CConfigFile::showServiceInfo(service.c_str(), path.c_str(), trace.get(), 1);
    CConfigFile reader(trace.get());
    ASSERT_EQ(0, reader.parseConfigFile(path.c_str(), 1));
    EXPECT_STREQ(fits.c_str(), reader.getStrOptionValue(L"serviceDisplayName", nullptr));
    EXPECT_EQ(nullptr, reader.getOption(L"description"));
    EXPECT_STREQ(longClass.c_str(), reader.getStrOptionValue(L"ibrontelClass", nullptr));
}

TEST_F(ServiceReport, ConsoleReportAndAnExistingFile) {
    ASSERT_TRUE(testsupport::setRegistryString(params.c_str(), L"IBrontelClass", L"a.B"));
    TraceCapture trace(L"reportconsole");
    CConfigFile::showServiceInfo(service.c_str(), nullptr, trace.get(), 0);
    std::string path = std::string(dir.begin(), dir.end()) + "/exists.conf";
    std::wstring widePath = dir + L"/exists.conf";
    ASSERT_TRUE(testsupport::writeFileBytes(widePath, "keep me"));
    CConfigFile::showServiceInfo(service.c_str(), widePath.c_str(), trace.get(), 0);
    EXPECT_EQ("keep me", testsupport::readFileBytes(widePath));
    std::string name(service.begin(), service.end());
    std::vector<std::string> lines = trace.lines();
    ASSERT_GE(lines.size(), 5u);
    // The trace switch's state (not the capture's file) comes first, outside the report.
    EXPECT_EQ(0u, lines[0].rfind("Tracing ", 0));
    // The report is one message: its lines end in LF, followed by the message's own line feed.
    EXPECT_EQ("serviceName=" + name, lines[1]);
    EXPECT_EQ("ibrontelClass=a.B", lines[2]);
    EXPECT_EQ(lines[0], lines[3]);
    EXPECT_EQ("Cannot open file " + path, lines[4]);
}

} // namespace
