// The key table: its entries' consistency, the refusal of malformed values at installation, and
// a run's settings read once from the registry.
#include "config/config_file.h"
#include "install/config_check.h"
#include "settings/service_settings.h"
#include "settings/value_check.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(KeyTable, EntriesCarryWhatTheirUsersNeed) {
    std::set<int> places;
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& key = configKeys[i];
        SCOPED_TRACE(testing::Message() << key.configName);
        std::wstring name = key.configName;
        EXPECT_EQ(&key, findConfigKey((key.flags & CONFIG_NUMBERED) ? (name + L"1").c_str()
                                                                    : name.c_str()));
        EXPECT_EQ(key.store == CONFIG_STORE_KEY_NAME, key.valueName == nullptr);
        // A checked key is refused in its own words; a choice key has its names.
        if (key.check != CONFIG_CHECK_NONE) {
            ASSERT_NE(nullptr, key.refusal);
            EXPECT_TRUE(key.check == CONFIG_CHECK_FAILURE_ACTIONS || key.expected != nullptr);
        }
        EXPECT_EQ(key.kind == CONFIG_KIND_CHOICE, key.choices != nullptr);
        // Defaults obey the key's own rules.
        if (key.defaultValue != nullptr && key.kind == CONFIG_KIND_NUMBER) {
            DWORD value = 0;
            EXPECT_TRUE(parseConfigNumber(key, key.defaultValue, &value));
        }
        if (key.defaultValue != nullptr && key.kind == CONFIG_KIND_FLAG) {
            int value = 0;
            EXPECT_TRUE(parseConfigFlag(key.defaultValue, &value));
        }
        if (key.defaultValue != nullptr && key.kind == CONFIG_KIND_CHOICE) {
            DWORD value = 0;
            EXPECT_TRUE(configChoiceValue(key, key.defaultValue, &value));
        }
        // The skeleton's places run from 1 without gaps or doubles, each with its text; every
        // other key has its added-key lines, so that the skeleton names every key.
        ASSERT_NE(nullptr, key.skeleton);
        // The skeleton writes whole lines only: text after the last newline would be lost.
        size_t length = strlen(key.skeleton);
        EXPECT_TRUE(length > 0 && key.skeleton[length - 1] == '\n') << key.skeleton;
        if (key.skeletonOrder != 0) {
            EXPECT_TRUE(places.insert(key.skeletonOrder).second);
        }
    }
    EXPECT_EQ(places.empty() ? 0 : *places.rbegin(), static_cast<int>(places.size()));
    EXPECT_EQ(nullptr, findConfigKey(L"jvmOption0"));
    EXPECT_EQ(findConfigKey(CFG_JVM_OPTION L"12"), findConfigKey(L"JVMOPTION3"));
}

// A configuration of the given lines, and the messages and result of the value check.
struct Checked {
    int result;
    std::vector<std::string> lines;
};
Checked check(const wchar_t* text) {
    // The reader traces what it reads: only the check's messages are looked at.
    CLogger quiet;
    CConfigFile config(&quiet);
    std::wstring buffer = text;
    EXPECT_EQ(0, config.parseBuffer(&buffer[0]));
    TraceCapture trace(L"keycheck");
    int result = refuseMalformedValues(&config, trace.get());
    return {result, trace.lines()};
}

TEST(KeyTable, MalformedValuesAreRefusedInTheirKeysWordsAndCodes) {
    const std::string nothing = " Nothing was installed.";
    struct Case {
        const wchar_t* text;
        int result;
        std::vector<std::string> lines;
    } cases[] = {
        {L"stopTimeout= 30 \nfailureActions=restart/1\nlogKeepFiles=0\n"
         L"logTimestamps=false\nfailureOnNonZeroExit=TRUE\n",
         0,
         {}},
        // The first stop or recovery value ends the check: one message, code 5.
        {L"failureResetPeriod=-1\nstopTimeout=4294968\nlogKeepFiles=1000\n",
         5,
         {"The value 4294968 of stopTimeout cannot be used: it must be a whole number of seconds "
          "from 0 to 4294967." +
          nothing}},
        {L"failureActions=reboot/5\n",
         5,
         {"The value reboot/5 of failureActions cannot be used: item 1: the action is neither "
          "restart nor none." +
          nothing}},
        // Each environment value is checked as far as the values are read: the first wrong one
        // ends the check, and one past a gap is never used, so never refused.
        {L"environment1=A=1\nenvironment2==2\nenvironment3=NONE\nenvironment5=x\n",
         5,
         {"The value =2 of environment2 cannot be used: it must be NAME=VALUE, with a name before "
          "the first = sign." +
          nothing}},
        {L"environment1=A=\nenvironment2=B==c\nenvironment4=bad\n", 0, {}},
        // Every malformed capture value is reported, code 34.
        {L"logTimestamps=yes\nlogRotateBytes=5k\nlogKeepFiles=7\n",
         34,
         {"The value 5k is not valid for logRotateBytes: expected a whole number of bytes from 0 "
          "to 4294967295." +
              nothing,
          "The value yes is not valid for logTimestamps: expected TRUE or FALSE." + nothing}},
    };
    for (const Case& c : cases) {
        Checked got = check(c.text);
        EXPECT_EQ(c.result, got.result) << c.text;
        EXPECT_EQ(c.lines, got.lines) << c.text;
    }
}

class ServiceSettings : public ::testing::Test {
  protected:
    void set(const wchar_t* name, const wchar_t* value) {
        ASSERT_TRUE(testsupport::setRegistryString(entry.params.c_str(), name, value));
    }
    testsupport::ScratchService entry{L"BrontelSettingsTest"};
};

TEST_F(ServiceSettings, ReadOnceExpandedAsTheTableSaysWithDefaultsAndTracesOnUse) {
    set(L"IBrontelClass", L"%BRONTEL_SETTINGS_TEST%.Main");
    set(L"CommandLine", L"%BRONTEL_SETTINGS_TEST% b");
    set(L"JVMOption1", L"-Da=%BRONTEL_SETTINGS_TEST%");
    set(L"JVMOption2", L"-Db");
    set(L"JVMOption4", L"-Dd"); // beyond the gap: not an option
    set(L"LogKeepFiles", L"12x");
    set(L"PreInitHint", L"750ms");
    SetEnvironmentVariableW(L"BRONTEL_SETTINGS_TEST", L"com.example");
    CServiceSettings settings;
    ASSERT_EQ(0, settings.load(entry.name.c_str()));
    // Read once: what changes afterwards is not seen by this run.
    set(L"IBrontelClass", L"changed");
    SetEnvironmentVariableW(L"BRONTEL_SETTINGS_TEST", nullptr);

    EXPECT_STREQ(L"com.example.Main", settings.text(CFG_SERVICE_CLASS));
    EXPECT_STREQ(L"%BRONTEL_SETTINGS_TEST% b", settings.text(CFG_COMMAND_LINE));
    ASSERT_EQ(2, settings.numberedCount(CFG_JVM_OPTION));
    EXPECT_STREQ(L"-Da=com.example", settings.numbered(CFG_JVM_OPTION, 1));
    EXPECT_STREQ(L"-Db", settings.numbered(CFG_JVM_OPTION, 2));
    EXPECT_EQ(nullptr, settings.numbered(CFG_JVM_OPTION, 4));

    TraceCapture trace(L"settings");
    DWORD number = 0;
    EXPECT_TRUE(settings.number(CFG_LOG_KEEP_FILES, trace.get(), L"Bad ", &number));
    EXPECT_EQ(5u, number);
    EXPECT_TRUE(settings.number(CFG_LOG_ROTATE_BYTES, trace.get(), L"Bad ", &number));
    EXPECT_EQ(10485760u, number);
    EXPECT_TRUE(settings.number(CFG_PREINIT_WAIT_HINT, trace.get(), L"Bad ", &number));
    EXPECT_EQ(750u, number);
    int flag = -1;
    EXPECT_TRUE(settings.flag(CFG_LOG_TIMESTAMPS, trace.get(), L"Bad ", &flag));
    EXPECT_EQ(0, flag);
    // A missing value is traced only by the reader that asks for it, as the registry says it.
    EXPECT_EQ(nullptr, settings.text(CFG_JVM_DLL));
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("Bad LogKeepFiles; using its default.", lines[0]);
    EXPECT_EQ(nullptr, settings.text(CFG_JVM_DLL, trace.get(), 1));
    lines = trace.lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("Error getting size of value JVMdll", lines[1]);
}

} // namespace
