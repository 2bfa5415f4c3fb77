// The registry functions against the stand-in's registry (Linux) or Wine's real one.
#include "settings/config_keys.h"
#include "registry/registry.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t* const testKey = L"SOFTWARE\\BrontelRegistryTest";

bool setText(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text, bool withNul) {
    DWORD size = static_cast<DWORD>((text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
    return testsupport::setRegistryValue(keyPath, name, REG_SZ, text.c_str(), size);
}

bool setMulti(const wchar_t* keyPath, const wchar_t* name, const std::vector<std::wstring>& items,
              bool closingItem = true) {
    std::wstring data;
    for (const std::wstring& item : items) {
        data += item;
        data.push_back(L'\0');
    }
    if (closingItem) {
        data.push_back(L'\0');
    }
    return testsupport::setRegistryValue(keyPath, name, REG_MULTI_SZ, data.data(),
                                         static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::deleteRegistryTree(testKey); }
    void TearDown() override { testsupport::deleteRegistryTree(testKey); }
    // A text value of the test key (or of its subkey) read into `bytes` bytes of `area`.
    wchar_t* readText(const wchar_t* name, wchar_t* area, DWORD bytes,
                      const wchar_t* sub = nullptr) {
        return getRegStrValue(HKEY_LOCAL_MACHINE, testKey, sub, name, area, bytes);
    }
};

TEST_F(Registry, StrValueReadsAndTerminatesWithinTheCallersBuffer) {
    ASSERT_TRUE(setText(testKey, L"Plain", L"hello", true));
    ASSERT_TRUE(setText(testKey, L"NoNul", L"abc", false));
    wchar_t buffer[16];
    wmemset(buffer, L'x', 16);
    EXPECT_EQ(buffer, readText(L"plain", buffer, sizeof(buffer)));
    EXPECT_STREQ(L"hello", buffer);
    // Stored without its NUL into a buffer full of garbage: the text still ends with the data.
    wmemset(buffer, L'x', 16);
    EXPECT_EQ(buffer, readText(L"NoNul", buffer, sizeof(buffer)));
    EXPECT_STREQ(L"abc", buffer);
    // The key path and a subkey are joined with a backslash.
    EXPECT_EQ(buffer, getRegStrValue(HKEY_LOCAL_MACHINE, L"SOFTWARE", L"BrontelRegistryTest",
                                     L"Plain", buffer, sizeof(buffer)));
    EXPECT_STREQ(L"hello", buffer);
}

TEST_F(Registry, StrValueThatDoesNotFitCountsAsAbsentAndIsNotWrittenPastTheBuffer) {
    ASSERT_TRUE(setText(testKey, L"Long", std::wstring(10, L'a'), true));
    ASSERT_TRUE(setText(testKey, L"Exact", std::wstring(8, L'b'), true));
    ASSERT_TRUE(setText(testKey, L"FullNoNul", std::wstring(8, L'c'), false));
    wchar_t area[12];
    wmemset(area, L'z', 12);
    // Room for 8 characters: 10 + NUL does not fit, 7 + NUL would, 8 without NUL has no end.
    EXPECT_EQ(nullptr, readText(L"Long", area, 8 * sizeof(wchar_t)));
    EXPECT_EQ(nullptr, readText(L"Exact", area, 8 * sizeof(wchar_t)));
    EXPECT_EQ(nullptr, readText(L"FullNoNul", area, 8 * sizeof(wchar_t)));
    for (int i = 8; i < 12; ++i) {
        EXPECT_EQ(L'z', area[i]) << i;
    }
    EXPECT_EQ(area, readText(L"Exact", area, 9 * sizeof(wchar_t)));
    EXPECT_EQ(std::wstring(8, L'b'), area);
}

TEST_F(Registry, StrValueOfMissingKeyOrValueIsNull) {
    wchar_t buffer[16] = {0};
    EXPECT_EQ(nullptr, readText(L"Nothing", buffer, sizeof(buffer)));
    ASSERT_TRUE(setText(testKey, L"Other", L"x", true));
    EXPECT_EQ(nullptr, readText(L"Nothing", buffer, sizeof(buffer)));
    EXPECT_EQ(nullptr, readText(L"Other", buffer, sizeof(buffer), L"NoSubkey"));
}

TEST_F(Registry, StrListValueJoinsItemsWithTheSeparator) {
    ASSERT_TRUE(setMulti(testKey, L"Three", {L"A", L"B", L"C"}));
    ASSERT_TRUE(setMulti(testKey, L"One", {L"A"}));
    ASSERT_TRUE(setMulti(testKey, L"Empty", {}));
    ASSERT_TRUE(setMulti(testKey, L"Unclosed", {L"Tcpip", L"EventLog"}, false));
    wchar_t buffer[64];
    auto read = [&](const wchar_t* name) -> std::wstring {
        wmemset(buffer, L'#', 64);
        wchar_t* got = getRegStrListValue(HKEY_LOCAL_MACHINE, testKey, nullptr, name, buffer,
                                          sizeof(buffer), L',');
        return got ? std::wstring(got) : std::wstring(L"<null>");
    };
    EXPECT_EQ(L"A,B,C", read(L"Three"));
    EXPECT_EQ(L"A", read(L"One"));
    EXPECT_EQ(L"", read(L"Empty"));
    // A list stored without its closing empty item ends with its data, nothing is read beyond.
    EXPECT_EQ(L"Tcpip,EventLog", read(L"Unclosed"));
    EXPECT_EQ(L"<null>", read(L"Missing"));
}

TEST_F(Registry, DwValueGivesTheNumberOrTheDefault) {
    DWORD four = 0x110;
    unsigned long long eight = 2;
    unsigned short two = 3;
    ASSERT_TRUE(testsupport::setRegistryValue(testKey, L"Type", REG_DWORD, &four, sizeof(four)));
    ASSERT_TRUE(testsupport::setRegistryValue(testKey, L"Wide", REG_QWORD, &eight, sizeof(eight)));
    ASSERT_TRUE(testsupport::setRegistryValue(testKey, L"Short", REG_BINARY, &two, sizeof(two)));
    EXPECT_EQ(0x110u, getRegDwValue(HKEY_LOCAL_MACHINE, testKey, nullptr, L"type", 7));
    EXPECT_EQ(7u, getRegDwValue(HKEY_LOCAL_MACHINE, testKey, nullptr, L"Missing", 7));
    EXPECT_EQ(7u, getRegDwValue(HKEY_LOCAL_MACHINE, testKey, L"NoSuchKey", L"Type", 7));
    EXPECT_EQ(0xFFFFFFFFu,
              getRegDwValue(HKEY_LOCAL_MACHINE, testKey, nullptr, L"Wide", 0xFFFFFFFF));
    // Two bytes are no number: the default, not a mix of the data and the default's bytes.
    EXPECT_EQ(0xFFFFFFFFu,
              getRegDwValue(HKEY_LOCAL_MACHINE, testKey, nullptr, L"Short", 0xFFFFFFFF));
}

class ServiceParameters : public ::testing::Test {
  protected:
    // Sets (or with null deletes) a value of the service's parameters.
    int set(const wchar_t* name, const wchar_t* value) {
        return setRegServiceParameter(service.c_str(), name, value, trace.get());
    }
    // A value of the service's parameters as getRegServiceParam gives it, or "<null>".
    std::wstring get(const wchar_t* name, int logErrors = 1, int expandEnv = 0) {
        wchar_t* value =
            getRegServiceParam(service.c_str(), name, trace.get(), logErrors, expandEnv);
        std::wstring text = value != nullptr ? value : L"<null>";
        free(value);
        return text;
    }
    testsupport::ScratchService entry{L"BrontelRegTest"};
    const std::wstring& service = entry.name;
    const std::wstring& params = entry.params;
    TraceCapture trace{L"params"};
};

TEST_F(ServiceParameters, WriteReadAndDelete) {
    EXPECT_EQ(0, set(REGVAL_SERVICE_CLASS, L"com.example.Svc"));
    EXPECT_EQ(0, set(REGVAL_COMMAND_LINE, L""));
    EXPECT_EQ(L"com.example.Svc", get(REGVAL_SERVICE_CLASS));
    // An empty text is a value, not a deletion.
    EXPECT_EQ(L"", get(REGVAL_COMMAND_LINE));
    // Stored as REG_SZ with its NUL.
    DWORD type = 0;
    EXPECT_EQ((wcslen(L"com.example.Svc") + 1) * sizeof(wchar_t),
              testsupport::readRegistryValue(params.c_str(), REGVAL_SERVICE_CLASS, &type).size());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    EXPECT_EQ(0, set(REGVAL_SERVICE_CLASS, nullptr));
    EXPECT_EQ(L"<null>", get(REGVAL_SERVICE_CLASS, 0, 0));
    // Deleting what is not there is no failure.
    EXPECT_EQ(0, set(REGVAL_SERVICE_CLASS, nullptr));
    EXPECT_TRUE(trace.lines().empty());
}

TEST_F(ServiceParameters, DeletingInAServiceWithoutParametersCreatesTheEmptyKey) {
    EXPECT_EQ(0, set(REGVAL_JVM_DLL, nullptr));
    EXPECT_TRUE(testsupport::keyExists(params.c_str()));
}

TEST_F(ServiceParameters, MissingKeyOrValueIsTracedOnlyWhenAsked) {
    EXPECT_EQ(L"<null>", get(REGVAL_SERVICE_CLASS, 0, 1));
    EXPECT_TRUE(trace.lines().empty());
    EXPECT_EQ(nullptr, getRegServiceParameter(service.c_str(), REGVAL_SERVICE_CLASS, trace.get()));
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Cannot open registry key SYSTEM\\CurrentControlSet\\Services\\" +
                  testsupport::narrow(service) + "\\Parameters",
              lines[0]);

    ASSERT_EQ(0, set(REGVAL_JVM_DLL, L"x"));
    EXPECT_EQ(nullptr, getRegServiceParameter(service.c_str(), REGVAL_SERVICE_CLASS, trace.get()));
    lines = trace.lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Error getting size of value IBrontelClass", lines[2]);
}

TEST_F(ServiceParameters, ValueWithoutNulOrWithOddSizeComesBackTerminated) {
    ASSERT_TRUE(setText(params.c_str(), L"NoNul", L"abcdef", false));
    // One byte more than three characters: still a terminated text, nothing read beyond.
    std::wstring odd = L"xyz";
    ASSERT_TRUE(testsupport::setRegistryValue(params.c_str(), L"Odd", REG_SZ, odd.c_str(),
                                              3 * sizeof(wchar_t) + 1));
    EXPECT_EQ(L"abcdef", get(L"NoNul"));
    std::wstring value = get(L"Odd");
    EXPECT_EQ(0u, value.find(L"xyz"));
    EXPECT_LE(value.size(), 4u);
}

// expandEnvStrings takes a writable text; each case gets its own copy.
std::wstring expand(const std::wstring& text) {
    std::vector<wchar_t> copy(text.begin(), text.end());
    copy.push_back(L'\0');
    wchar_t* result = expandEnvStrings(copy.data());
    EXPECT_NE(nullptr, result);
    std::wstring out = result ? result : L"<null>";
    free(result);
    return out;
}

class Expansion : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"BRT_TEMP", L"C:\\T");
        SetEnvironmentVariableW(L"BRT_A", L"1");
        SetEnvironmentVariableW(L"BRT_B", L"2");
        SetEnvironmentVariableW(L"BRT_SELF", L"%BRT_A%");
        SetEnvironmentVariableW(L"BRT_UNDEFINED", nullptr);
    }
    void TearDown() override {
        for (const wchar_t* name : {L"BRT_TEMP", L"BRT_A", L"BRT_B", L"BRT_SELF", L"BRT_LONG"}) {
            SetEnvironmentVariableW(name, nullptr);
        }
    }
};

TEST_F(Expansion, ReferencesPercentsAndBackslashes) {
    // Texts that stay as they are: lone percents, a backslash inside a name, and undefined
    // names (formerly expanded to nothing, leaving "\\bin\\server\\jvm.dll" under a drive's root).
    for (const wchar_t* same :
         {L"50%", L"a%b", L"x\\y", L"no percent here", L"", L"C:\\Java\\%BRT_UNDEFINED%\\bin",
          L"%BRT_\\%after", L"%BRT_UNDEFINED%\\bin\\server\\jvm.dll", L"%BRT_UNDEFINED%x",
          L"%BRT_UNDEFINED%%BRT_UNDEFINED%"}) {
        EXPECT_EQ(same, expand(same)) << same;
    }
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"%BRT_TEMP%\\x", L"C:\\T\\x"},
        {L"%brt_temp%\\x", L"C:\\T\\x"},
        {L"%BRT_A%%BRT_B%", L"12"},
        // The closing "%" of one reference never opens the next; a lone "%" after one stays.
        {L"%BRT_A%BRT_B%", L"1BRT_B%"},
        {L"%BRT_A% and 5%", L"1 and 5%"},
        // A backslash before "%" separates folders (formerly an escape that dropped it).
        {L"\\%BRT_TEMP%", L"\\C:\\T"},
        {L"C:\\Java\\%BRT_A%\\bin", L"C:\\Java\\1\\bin"},
        {L"%BRT_UNDEFINED%%BRT_A%", L"%BRT_UNDEFINED%1"},
        // "%%" is one literal percent sign (formerly dropped).
        {L"%%", L"%"},
        {L"a%%-b", L"a%-b"},
        {L"50%%", L"50%"},
        {L"%%BRT_A%%", L"%BRT_A%"},
        {L"%%%BRT_A%", L"%1"},
        // An inserted value is not scanned again.
        {L"[%BRT_SELF%]", L"[%BRT_A%]"},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(want, expand(text)) << text;
    }
}

TEST_F(Expansion, EmptyAndLongValues) {
    // An empty value counts as missing, and so does one too long to insert.
    SetEnvironmentVariableW(L"BRT_LONG", L"");
    EXPECT_EQ(L"<%BRT_LONG%>", expand(L"<%BRT_LONG%>"));
    std::wstring fits(3999, L'v');
    SetEnvironmentVariableW(L"BRT_LONG", fits.c_str());
    EXPECT_EQ(L"<" + fits + L">", expand(L"<%BRT_LONG%>"));
    std::wstring tooLong(4000, L'w');
    SetEnvironmentVariableW(L"BRT_LONG", tooLong.c_str());
    EXPECT_EQ(L"<%BRT_LONG%>", expand(L"<%BRT_LONG%>"));
    // No limit on the text itself.
    std::wstring many;
    std::wstring want;
    for (int i = 0; i < 20000; ++i) {
        many += L"%BRT_A%-";
        want += L"1-";
    }
    EXPECT_EQ(want, expand(many));
}

TEST(ConvertToMBCS, ConvertsWholeTextsInAnyCodePage) {
    char* empty = convertToMBCS(L"");
    ASSERT_NE(nullptr, empty);
    EXPECT_STREQ("", empty);
    free(empty);
    char* ascii = convertToMBCS(L"-Djava.class.path=C:\\x");
    ASSERT_NE(nullptr, ascii);
    EXPECT_STREQ("-Djava.class.path=C:\\x", ascii);
    free(ascii);
    // Characters that take more than one byte in a multi-byte code page are never cut off.
    std::wstring accented;
    for (int i = 0; i < 50; ++i) {
        accented += L"\u00e9\u00fc";
    }
    char* narrow = convertToMBCS(accented.c_str());
    ASSERT_NE(nullptr, narrow);
    int needed = WideCharToMultiByte(CP_ACP, 0, accented.c_str(), -1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(static_cast<size_t>(needed - 1), strlen(narrow));
    wchar_t back[256] = {0};
    MultiByteToWideChar(CP_ACP, 0, narrow, -1, back, 256);
    EXPECT_EQ(accented, back);
    free(narrow);
}

} // namespace
