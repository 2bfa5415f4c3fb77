// The skeleton configuration file: its structure, both encodings, and the file it never touches.
#include "config/build_stamp.h"
#include "config/skeleton_template.h"
#include "settings/config_keys.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> splitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start)); // an unterminated tail: a defect
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string templateText() {
    char* text = buildSkeletonText();
    EXPECT_NE(nullptr, text);
    std::string out = text ? text : "";
    free(text);
    return out;
}

struct Entry {
    const char* keyLines[2];
    int commentLines;
};

TEST(Skeleton, HeaderEntriesAndLineCounts) {
    std::string text = templateText();
    ASSERT_EQ(std::string::npos,
              text.find_first_not_of("\r\n !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW"
                                     "XYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"));
    ASSERT_EQ("\r\n", text.substr(text.size() - 2));
    std::vector<std::string> lines = splitCrLf(text);
    // The first 120 lines are the template's own text; the keys added since follow them.
    ASSERT_LT(120u, lines.size());
    lines.resize(120);
    for (const std::string& line : lines) {
        EXPECT_EQ(std::string::npos, line.find('\r'));
        EXPECT_EQ(std::string::npos, line.find('\n'));
    }
    EXPECT_EQ(std::string("# Brontel Configuration file               (build ") +
                  BRONTEL_BUILD_DATE + ")",
              lines[0]);
    EXPECT_EQ("# ", lines[1]);
    EXPECT_EQ("#", lines[5]);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ('#', lines[i][0]) << i;
        if (i != 5) {
            EXPECT_EQ(' ', lines[i][1]) << i;
        }
    }
    EXPECT_EQ("", lines[8]);

    const Entry entries[] = {
        {{"serviceDisplayName=$$DISPLAYNAME$$", nullptr}, 2},
        {{"serviceName=$$SERVICENAME$$", nullptr}, 3},
        {{"ibrontelClass=$$SERVICECLASSNAME$$", nullptr}, 2},
        {{"#interactiveService=$$TRUE | FALSE$$", nullptr}, 5},
        {{"#startType=$$SERVICE_AUTO_START | SERVICE_DEMAND_START | SERVICE_DISABLED$$", nullptr},
         8},
        {{"#errorControl=$$SERVICE_ERROR_IGNORE | SERVICE_ERROR_NORMAL | SERVICE_ERROR_SEVERE | "
          "SERVICE_ERROR_CRITICAL$$",
          nullptr},
         14},
        {{"#binaryPath=$$BINARYPATH$$", nullptr}, 5},
        {{"#serviceDependencies=$$DEPENDENCIES$$", nullptr}, 6},
        {{"#description=$$DESCRIPTION$$", nullptr}, 5},
        {{"#jvmDLL=$$DLL$$", nullptr}, 5},
        {{"#jvmOption1=$$OPTION1$$", "#jvmOption2=$$OPTION2$$"}, 8},
        {{"#commandLineParms=$$COMMAND_LINE$$", nullptr}, 3},
        {{"#verboseOutput=$$FILENAME$$", nullptr}, 4},
        {{"#preinitCommand=$$COMMAND$$", nullptr}, 6},
        {{"#preinitWaitHint=$$HINTMILLISECONDS$$", nullptr}, 5},
    };
    size_t at = 9;
    std::vector<std::vector<std::string>> comments;
    for (const Entry& entry : entries) {
        std::vector<std::string> block;
        while (at < lines.size() && lines[at].rfind("# ", 0) == 0) {
            block.push_back(lines[at++]);
        }
        // The option examples are commented-out key lines inside the comment.
        while (at < lines.size() && lines[at].rfind("#jvmOption", 0) == 0 &&
               lines[at].find("$$") == std::string::npos) {
            block.push_back(lines[at++]);
            while (at < lines.size() && lines[at].rfind("# ", 0) == 0) {
                block.push_back(lines[at++]);
            }
        }
        EXPECT_EQ(entry.commentLines, static_cast<int>(block.size())) << entry.keyLines[0];
        comments.push_back(block);
        for (const char* key : entry.keyLines) {
            if (key != nullptr) {
                ASSERT_LT(at, lines.size());
                EXPECT_EQ(key, lines[at++]);
            }
        }
        if (at < lines.size()) {
            EXPECT_EQ("", lines[at++]) << "after " << entry.keyLines[0];
        }
    }
    EXPECT_EQ(lines.size(), at);

    // What the comments must tell, checked where a wrong word would mislead an administrator.
    auto mentions = [&](int entry, const char* words) {
        for (const std::string& line : comments[entry]) {
            if (line.find(words) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(mentions(0, "required"));
    EXPECT_TRUE(mentions(1, "required"));
    EXPECT_TRUE(mentions(2, "required"));
    EXPECT_TRUE(mentions(2, "IBrontel"));
    EXPECT_TRUE(mentions(3, "Default: FALSE"));
    EXPECT_TRUE(mentions(4, "Default: SERVICE_DEMAND_START"));
    EXPECT_TRUE(mentions(5, "Default: SERVICE_ERROR_NORMAL"));
    EXPECT_TRUE(mentions(6, "Default: the binary that is run when installing the service"));
    EXPECT_TRUE(mentions(6, "brontel.exe"));
    EXPECT_TRUE(mentions(9, "Default: jvm.dll"));
    // Paths only administrators can change, and no search that others could plant a file in.
    EXPECT_TRUE(mentions(9, "%ProgramFiles%\\Java\\jdk-17\\bin\\server\\jvm.dll"));
    EXPECT_TRUE(mentions(9, "not absolute is refused"));
    EXPECT_TRUE(mentions(10, "#jvmOption1=-Djava.class.path=%ProgramFiles%\\MyService\\classes"));
    EXPECT_TRUE(mentions(10, "#jvmOption2=-Djava.compiler=NONE"));
    EXPECT_TRUE(mentions(10, "administrators alone can write, never \".\""));
    EXPECT_TRUE(mentions(12, "-verbose:class"));
    EXPECT_TRUE(mentions(13, "cmd.exe /c \"%ProgramFiles%\\MyService\\prepare.bat\""));
    for (const std::string& line : lines) {
        EXPECT_EQ(std::string::npos, line.find("LoadLibrary")) << line;
        EXPECT_EQ(std::string::npos, line.find("=.;")) << line;
        EXPECT_EQ(std::string::npos, line.find("C:\\my")) << line;
    }
    EXPECT_TRUE(mentions(13, "preinitWaitHint"));
    EXPECT_TRUE(mentions(14, "Default: 2000"));
    for (int entry = 3; entry < 15; ++entry) {
        EXPECT_TRUE(mentions(entry, "optional")) << entry;
    }
    // Said twice on consecutive lines, and repeated word for word by the binaryPath comment.
    EXPECT_NE(std::string::npos, comments[3][0].find("optional"));
    EXPECT_NE(std::string::npos, comments[3][1].find("optional"));
    EXPECT_EQ(comments[3][1], comments[6][1]);
    EXPECT_EQ(comments[3][2], comments[6][2]);
}

TEST(Skeleton, NamesEveryKeyTheTableHoldsAndListsTheAddedOnesLast) {
    std::vector<std::string> lines = splitCrLf(templateText());
    ASSERT_LT(123u, lines.size());
    EXPECT_EQ("", lines[120]);
    EXPECT_EQ("# Keys added to brontel since the keys above. Each is optional: remove the #",
              lines[121]);
    EXPECT_EQ("# before the key's line to use it.", lines[122]);
    size_t at = 123;
    for (int i = 0; i < configKeyCount; ++i) {
        char name[64] = {0};
        for (size_t c = 0; configKeys[i].configName[c] != L'\0' && c + 1 < sizeof(name); ++c) {
            name[c] = static_cast<char>(configKeys[i].configName[c]);
        }
        std::string key = name;
        if (configKeys[i].skeletonOrder != 0) {
            // In the template's own text, as a key line, commented out or not.
            bool found = false;
            for (size_t n = 0; n < 120; ++n) {
                found = found || lines[n].rfind(key, 0) == 0 || lines[n].rfind("#" + key, 0) == 0;
            }
            EXPECT_TRUE(found) << key;
            continue;
        }
        // An added key: one line saying what it does, then its line commented out (a numbered
        // key as keyN, then its first line).
        bool numbered = (configKeys[i].flags & CONFIG_NUMBERED) != 0;
        ASSERT_LT(at + 1, lines.size()) << key;
        EXPECT_EQ(0u, lines[at].rfind("# " + key + (numbered ? "N" : "") + ": ", 0)) << lines[at];
        EXPECT_LE(lines[at].size(), 100u) << lines[at];
        EXPECT_EQ(0u, lines[at + 1].rfind("#" + key + (numbered ? "1" : "") + "=", 0))
            << lines[at + 1];
        EXPECT_EQ(std::string::npos, lines[at + 1].find("$$")) << lines[at + 1];
        at += 2;
    }
    EXPECT_EQ(lines.size(), at);
}

} // namespace
