// The configuration file reader: line splitting, options, messages and result codes, encodings.
#include "config/config_file.h"
#include "platform/textutil.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using Options = std::vector<std::pair<std::wstring, std::wstring>>;

Options optionsOf(CConfigFile& config, const std::vector<std::wstring>& names) {
    Options out;
    for (const std::wstring& name : names) {
        CConfigOption* option = config.getOption(name.c_str());
        if (option != nullptr) {
            out.emplace_back(option->getName(), option->getValue());
        }
    }
    return out;
}

// Parses a text in place, as the file reader does after decoding.
int parseText(CConfigFile& config, const std::wstring& text) {
    std::vector<wchar_t> copy(text.begin(), text.end());
    copy.push_back(L'\0');
    return config.parseBuffer(copy.data());
}

std::string utf16(const std::wstring& text) {
    std::string bytes(utf16leSize(text.c_str(), text.size()), '\0');
    utf16leEncode(text.c_str(), text.size(), reinterpret_cast<unsigned char*>(&bytes[0]));
    return bytes;
}

class ConfigReader : public ::testing::Test {
  protected:
    TraceCapture trace{L"reader"};
    CConfigFile config{trace.get()};
};

TEST_F(ConfigReader, CommentsBlanksAndTrimming) {
    int rc = parseText(config, L"# a comment=with equals\n"
                               L"\n"
                               L"   \t \n"
                               L"serviceName = My Service  \n"
                               L"\tjvmOption1=-Dfoo=bar\n"
                               L"description=a # is part of the value\n"
                               L"  # note=1\n"
                               L"=orphan\n");
    EXPECT_EQ(0, rc);
    EXPECT_EQ(5, config.getOptionCount());
    EXPECT_STREQ(L"My Service", config.getStrOptionValue(L"serviceName", nullptr));
    EXPECT_STREQ(L"-Dfoo=bar", config.getStrOptionValue(L"jvmOption1", nullptr));
    EXPECT_STREQ(L"a # is part of the value", config.getStrOptionValue(L"description", nullptr));
    // "#" after blanks is no comment: its name is "# note".
    EXPECT_STREQ(L"1", config.getStrOptionValue(L"# note", nullptr));
    // An empty name is kept but matches no lookup of a real key.
    EXPECT_STREQ(L"orphan", config.getStrOptionValue(L"", nullptr));
    // Every option is echoed as name=value.
    std::vector<std::string> want = {"serviceName=My Service", "jvmOption1=-Dfoo=bar",
                                     "description=a # is part of the value", "# note=1", "=orphan"};
    EXPECT_EQ(want, trace.lines());
}

TEST_F(ConfigReader, LinesWithoutValueAreReportedAndTheRestIsKept) {
    int rc = parseText(config, L"startType=\n"
                               L"first=1\n"
                               L"startType=   \t\n"
                               L"startType =\n"
                               L"  # note\n"
                               L"second=2");
    EXPECT_EQ(5, rc);
    EXPECT_EQ(2, config.getOptionCount());
    EXPECT_STREQ(L"2", config.getStrOptionValue(L"second", nullptr)); // last line without LF
    const std::string tail = " has no value in configuration file. Operation failed.";
    std::vector<std::string> want = {"startType" + tail,  "first=1",       "startType" + tail,
                                     "startType " + tail, "# note" + tail, "second=2"};
    EXPECT_EQ(want, trace.lines());
}

TEST_F(ConfigReader, CarriageReturnsEndTheLine) {
    EXPECT_EQ(0, parseText(config, L"a=1\rb=2\nc=3\r\n\r\nd=4\r\n"));
    Options want = {{L"a", L"1"}, {L"c", L"3"}, {L"d", L"4"}};
    EXPECT_EQ(want, optionsOf(config, {L"a", L"b", L"c", L"d"}));
    EXPECT_EQ(3, config.getOptionCount());
}

TEST_F(ConfigReader, LookupIgnoresAsciiCaseAndTheFirstOccurrenceWins) {
    ASSERT_EQ(0, parseText(config, L"SERVICENAME=first\nserviceName=second\n\u00c4x=umlaut\n"));
    EXPECT_STREQ(L"first", config.getStrOptionValue(L"serviceName", nullptr));
    EXPECT_EQ(3, config.getOptionCount());
    // Only ASCII letters fold.
    EXPECT_EQ(nullptr, config.getOption(L"\u00e4x"));
    EXPECT_NE(nullptr, config.getOption(L"\u00c4X"));
    wchar_t fallback[] = L"fallback";
    EXPECT_EQ(fallback, config.getStrOptionValue(L"missing", fallback));
    EXPECT_EQ(nullptr, config.getOption(nullptr));
}

TEST_F(ConfigReader, BooleanValues) {
    ASSERT_EQ(0, parseText(config, L"a=True\nb=FALSE\nc=on\nd=1\n"));
    std::size_t echoed = trace.lines().size();
    EXPECT_EQ(1, config.getBoolOptionValue(L"A", 0));
    EXPECT_EQ(0, config.getBoolOptionValue(L"b", 1));
    EXPECT_EQ(7, config.getBoolOptionValue(L"missing", 7));
    EXPECT_EQ(echoed, trace.lines().size()); // nothing said so far
    EXPECT_EQ(0, config.getBoolOptionValue(L"c", 0));
    EXPECT_EQ(1, config.getBoolOptionValue(L"D", 1));
    std::vector<std::string> lines = trace.lines();
    ASSERT_EQ(echoed + 2, lines.size());
    EXPECT_EQ("c has an unrecognized value, using default: FALSE", lines[echoed]);
    EXPECT_EQ("D has an unrecognized value, using default: TRUE", lines[echoed + 1]);
}

class ConfigFiles : public ::testing::Test {
  protected:
    void SetUp() override { dir = testsupport::makeScratchDir(L"cfgfiles"); }
    TraceCapture trace{L"files"};
    std::wstring file(const wchar_t* name, const std::string& bytes) {
        std::wstring path = dir + L"/" + name;
        EXPECT_TRUE(testsupport::writeFileBytes(path, bytes));
        return path;
    }
    std::wstring dir;
};

TEST_F(ConfigFiles, AnsiAndUnicodeFiles) {
    std::string ansiText = "# Comment\r\nserviceName=caf\xc3\xa9\r\nibrontelClass=a.B\r\n";
    CConfigFile ansi(trace.get());
    // The ANSI code page of the Linux build is UTF-8; elsewhere only ASCII is compared.
    ASSERT_EQ(0, ansi.parseConfigFile(file(L"a.conf", ansiText).c_str(), 0));
    EXPECT_EQ(2, ansi.getOptionCount());
    EXPECT_STREQ(L"a.B", ansi.getStrOptionValue(L"ibrontelClass", nullptr));
    EXPECT_EQ(0, wcsncmp(L"caf", ansi.getStrOptionValue(L"serviceName", nullptr), 3));

    CConfigFile wide(trace.get());
    std::wstring text = L"# Comment\r\nserviceName=caf\u00e9 \U0001F600\r\nibrontelClass=a.B";
    ASSERT_EQ(0, wide.parseConfigFile(file(L"w.conf", utf16(text)).c_str(), 1));
    EXPECT_EQ(2, wide.getOptionCount());
    std::wstring name = wide.getStrOptionValue(L"serviceName", nullptr);
    EXPECT_EQ(0, name.compare(0, 5, L"caf\u00e9 "));
    EXPECT_STREQ(L"a.B", wide.getStrOptionValue(L"ibrontelClass", nullptr));
}

// A byte order mark read as Unicode is part of the first line, which has no value then; a
// Unicode file read as ANSI, with or without its mark, ends at its first zero byte.
TEST_F(ConfigFiles, AMarkIsPartOfTheFirstLineAndAnsiReadingEndsAtAZeroByte) {
    struct Case {
        const wchar_t* name;
        std::string bytes;
        int unicode;
        const wchar_t* serviceName; // null: no option read
    } cases[] = {{L"bom.conf", "\xff\xfe" + utf16(L"# comment\r\nserviceName=x\r\n"), 1, L"x"},
                 {L"u.conf", "\xff\xfe" + utf16(L"serviceName=x\r\n"), 0, nullptr},
                 {L"u2.conf", utf16(L"serviceName=x\r\n"), 0, nullptr}};
    for (const Case& c : cases) {
        CConfigFile config(trace.get());
        EXPECT_EQ(5, config.parseConfigFile(file(c.name, c.bytes).c_str(), c.unicode)) << c.name;
        EXPECT_EQ(c.serviceName ? 1 : 0, config.getOptionCount()) << c.name;
        EXPECT_STREQ(c.serviceName, config.getStrOptionValue(L"serviceName", nullptr)) << c.name;
    }
}

TEST_F(ConfigFiles, OddByteCountUnderUnicode) {
    CConfigFile config(trace.get());
    // The odd last byte pairs with the zero behind the data: one more character, "x".
    std::string bytes = utf16(L"a=1\n") + "x";
    EXPECT_EQ(5, config.parseConfigFile(file(L"odd.conf", bytes).c_str(), 1));
    EXPECT_STREQ(L"1", config.getStrOptionValue(L"a", nullptr));
    std::vector<std::string> lines = trace.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("x has no value in configuration file. Operation failed.", lines.back());
    CConfigFile single(trace.get());
    EXPECT_EQ(5, single.parseConfigFile(file(L"one.conf", "=").c_str(), 1));
}

TEST_F(ConfigFiles, MissingEmptyAndUnreadableFiles) {
    CConfigFile config(trace.get());
    EXPECT_EQ(3, config.parseConfigFile(nullptr, 0));
    std::wstring missing = dir + L"/missing.conf";
    EXPECT_EQ(4, config.parseConfigFile(missing.c_str(), 0));
    EXPECT_EQ(0, config.parseConfigFile(file(L"empty.conf", "").c_str(), 0));
    EXPECT_EQ(4, config.parseConfigFile(dir.c_str(), 0)); // a directory
    std::vector<std::string> lines = trace.lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ("missing configuration file", lines[0]);
    EXPECT_EQ("Cannot open config file : " + testsupport::narrow(missing), lines[1]);
    EXPECT_FALSE(lines[2].empty()); // the system's text
    EXPECT_EQ("Empty config file", lines[3]);
    EXPECT_EQ(0, config.getOptionCount());
}

TEST_F(ConfigFiles, GarbageNulBytesAndEqualSignsNeverCrash) {
    std::string garbage;
    unsigned value = 12345;
    for (int i = 0; i < 200000; ++i) {
        value = value * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>((value >> 16) & 0xFF));
    }
    for (int unicode = 0; unicode <= 1; ++unicode) {
        CConfigFile config(trace.get());
        int rc = config.parseConfigFile(file(L"garbage.bin", garbage).c_str(), unicode);
        EXPECT_TRUE(rc == 0 || rc == 5) << rc;
    }
    CConfigFile nuls(trace.get());
    EXPECT_EQ(0, nuls.parseConfigFile(file(L"nuls.bin", std::string(1000, '\0')).c_str(), 0));
    EXPECT_EQ(0, nuls.getOptionCount());
    CConfigFile afterNul(trace.get());
    EXPECT_EQ(0, afterNul.parseConfigFile(
                     file(L"afternul.conf", std::string("a=1\n\0b=2\n", 9)).c_str(), 0));
    EXPECT_EQ(1, afterNul.getOptionCount());
    CConfigFile equals(trace.get());
    EXPECT_EQ(5, equals.parseConfigFile(file(L"eq.conf", "=\n==\n===\n").c_str(), 0));
    // "==" and "===" keep the further signs as their value.
    EXPECT_EQ(2, equals.getOptionCount());
}

TEST_F(ConfigFiles, FileTooLargeToHoldIsAMemoryErrorNotSuccess) {
    // A sparse file: sized without writing its gigabytes.
    std::wstring path = dir + L"/huge.conf";
    ASSERT_TRUE(testsupport::writeFileBytes(path, "a=1\n"));
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::path(path), 0x80000000ull, error);
    ASSERT_FALSE(error) << error.message();
    CConfigFile config(trace.get());
    EXPECT_EQ(9, config.parseConfigFile(path.c_str(), 0));
    EXPECT_EQ(0, config.getOptionCount());
    std::vector<std::string> want = {"Memory error."};
    EXPECT_EQ(want, trace.lines());
    std::filesystem::remove(std::filesystem::path(path), error);
}

TEST_F(ConfigFiles, LongLinesAndManyLines) {
    // No trace file: a flushed trace line per option would dominate the run.
    CLogger quiet;
    std::string longLine = "jvmOption1=" + std::string(1 << 20, 'v') + "\n";
    CConfigFile one(&quiet);
    EXPECT_EQ(0, one.parseConfigFile(file(L"long.conf", longLine).c_str(), 0));
    EXPECT_EQ(static_cast<size_t>(1 << 20), wcslen(one.getStrOptionValue(L"jvmOption1", nullptr)));

    std::string many;
    for (int i = 0; i < 100000; ++i) {
        many += "key" + std::to_string(i) + "=value\r\n";
    }
    CConfigFile config(&quiet);
    EXPECT_EQ(0, config.parseConfigFile(file(L"many.conf", many).c_str(), 0));
    EXPECT_EQ(100000, config.getOptionCount());
    EXPECT_STREQ(L"value", config.getStrOptionValue(L"KEY99999", nullptr));
}

TEST_F(ConfigFiles, FiftyMegabytesWithoutTracing) {
    // Linear in the size of the file: this would not finish in quadratic time.
    std::string big;
    big.reserve(50u << 20);
    std::string line = "jvmOptionX=" + std::string(1000, 'q') + "\n";
    while (big.size() < (50u << 20)) {
        big += line;
    }
    CLogger quiet;
    CConfigFile config(&quiet);
    EXPECT_EQ(0, config.parseConfigFile(file(L"fifty.conf", big).c_str(), 0));
    EXPECT_EQ(static_cast<int>(big.size() / line.size()), config.getOptionCount());
}

} // namespace
