// Finding the JVM library: path rules, the processor-type sentence from a PE header, and the
// order in which Java runtimes are offered when none is configured.
#include "jvm/jvm_library.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::makeScratchDir;
using testsupport::setRegistryString;
using testsupport::writeFileBytes;

namespace {
const wchar_t kSep = BRONTEL_POSIX_PATHS ? L'/' : L'\\';

std::wstring join(const std::wstring& a, const std::wstring& b) {
    return a + kSep + b;
}

// A Java home with the library in its first known layout (an empty file is enough to be found).
std::wstring makeJavaHome(const wchar_t* tag) {
    std::wstring home = makeScratchDir(tag);
    static const wchar_t* const layouts[] = BRONTEL_JAVA_HOME_LIBRARIES;
    std::wstring path = home;
    std::wstring layout = layouts[0];
    size_t start = 0;
    for (size_t cut = layout.find(kSep); cut != std::wstring::npos;
         start = cut + 1, cut = layout.find(kSep, start)) {
        path = join(path, layout.substr(start, cut - start));
        CreateDirectoryW(path.c_str(), nullptr);
    }
    EXPECT_TRUE(writeFileBytes(join(home, layout), ""));
    return home;
}

std::string peImage(uint16_t machine) {
    std::string image(0x100, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = static_cast<char>(0x80);
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    image[0x84] = static_cast<char>(machine & 0xFF);
    image[0x85] = static_cast<char>(machine >> 8);
    return image;
}
} // namespace

TEST(JvmLibrary, AbsolutePathsAndTheRuntimeFolderOfTheLibrary) {
    struct Case {
        const wchar_t* path;
        int absolute;
        const wchar_t* runtimeFolder; // null: no runtime layout recognised
    };
    static const Case windowsCases[] = {
        {L"C:\\Java\\jdk\\bin\\server\\jvm.dll", 1, L"C:\\Java\\jdk\\bin"},
        {L"c:/Java/jre/bin/Client/jvm.dll", 1, L"c:/Java/jre/bin"},
        {L"\\\\host\\share\\jre\\bin\\classic\\jvm.dll", 1, L"\\\\host\\share\\jre\\bin"},
        {L"C:\\Tools\\jvm.dll", 1, nullptr},
        // What an undefined %JAVA_HOME% leaves behind, expanded or not: never loaded.
        {L"\\bin\\server\\jvm.dll", 0, L"\\bin"},
        {L"%JAVA_HOME%\\bin\\server\\jvm.dll", 0, L"%JAVA_HOME%\\bin"},
        {L"C:jvm.dll", 0, nullptr},
        {L"jvm.dll", 0, nullptr},
        {L"", 0, nullptr},
    };
    static const Case posixCases[] = {
        {L"/usr/lib/jvm/java-17/lib/server/libjvm.so", 1, L"/usr/lib/jvm/java-17/lib"},
        {L"/opt/jre/lib/amd64/client/libjvm.so", 1, L"/opt/jre/lib/amd64"},
        {L"/opt/libjvm.so", 1, nullptr},
        {L"%JAVA_HOME%/lib/server/libjvm.so", 0, L"%JAVA_HOME%/lib"},
        {L"lib/server/libjvm.so", 0, L"lib"},
        {L"server/libjvm.so", 0, nullptr},
        {L"", 0, nullptr},
    };
    const Case* cases = BRONTEL_POSIX_PATHS ? posixCases : windowsCases;
    size_t count = BRONTEL_POSIX_PATHS ? sizeof posixCases / sizeof posixCases[0]
                                       : sizeof windowsCases / sizeof windowsCases[0];
    for (size_t i = 0; i < count; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(isAbsolutePath(c.path), c.absolute) << i;
        wchar_t folder[BRONTEL_JVM_PATH_CHARS];
        int found = getRuntimeLibraryFolder(c.path, folder, BRONTEL_JVM_PATH_CHARS);
        EXPECT_EQ(found, c.runtimeFolder != nullptr) << i;
        if (found && c.runtimeFolder) {
            EXPECT_STREQ(folder, c.runtimeFolder) << i;
        }
    }
    // A folder buffer too small for the answer gives no answer rather than a cut path.
    wchar_t small[4];
    EXPECT_EQ(getRuntimeLibraryFolder(cases[0].path, small, 4), 0);
}

TEST(JvmLibrary, ForeignImagesAreNamedByTheirProcessorType) {
    std::wstring dir = makeScratchDir(L"pe");
    const bool is64 = sizeof(void*) == 8;
    struct Case {
        std::string bytes;
        const wchar_t* expected; // null: no sentence
    };
    const Case cases[] = {
        {peImage(0x014C), is64 ? L" is a 32-bit library; this brontel.exe is 64-bit; use the x86 "
                                 L"brontel.exe or a 64-bit Java"
                               : nullptr},
        {peImage(0x8664), is64 ? nullptr
                               : L" is a 64-bit library; this brontel.exe is 32-bit; use the x64 "
                                 L"brontel.exe or a 32-bit Java"},
        {peImage(0xAA64), is64 ? L" is a ARM64 library; this brontel.exe is 64-bit; use a 64-bit "
                                 L"(x64) Java"
                               : L" is a ARM64 library; this brontel.exe is 32-bit; use a 32-bit "
                                 L"(x86) Java"},
        {peImage(0x1234), nullptr},
        {std::string("MZ"), nullptr},
        {std::string("\x7f"
                     "ELF garbage and more garbage to fill sixty-four bytes of header......"),
         nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring path = join(dir, L"lib" + std::to_wstring(n++) + L".dll");
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        wchar_t text[1200] = L"untouched";
        int told = describeForeignImage(path.c_str(), text, 1200);
        EXPECT_EQ(told, c.expected != nullptr) << n;
        if (c.expected) {
            EXPECT_EQ(std::wstring(text), path + c.expected);
        }
    }
    wchar_t text[200];
    EXPECT_EQ(describeForeignImage(join(dir, L"missing.dll").c_str(), text, 200), 0);
}

TEST(JvmLibrary, RuntimesAreOfferedInTheExpectedOrderWithTheirOrigins) {
    const wchar_t* javaSoft = L"SOFTWARE\\JavaSoft\\JDK";
    for (const wchar_t* key :
         {L"SOFTWARE\\JavaSoft", L"SOFTWARE\\Eclipse Adoptium", L"SOFTWARE\\Azul Systems"}) {
        testsupport::deleteRegistryTree(key);
    }
    std::wstring jdk = makeJavaHome(L"jdk");
    std::wstring older = makeJavaHome(L"adopt9");
    std::wstring newer = makeJavaHome(L"adopt10");
    std::wstring empty = makeScratchDir(L"emptyhome");
    ASSERT_TRUE(setRegistryString(javaSoft, L"CurrentVersion", L"17"));
    ASSERT_TRUE(setRegistryString(L"SOFTWARE\\JavaSoft\\JDK\\17", L"JavaHome", jdk.c_str()));
    // A JRE key naming a version that is not there adds nothing.
    ASSERT_TRUE(setRegistryString(L"SOFTWARE\\JavaSoft\\JRE", L"CurrentVersion", L"1.8"));
    ASSERT_TRUE(setRegistryString(L"SOFTWARE\\Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI",
                                  L"Path", older.c_str()));
    ASSERT_TRUE(setRegistryString(L"SOFTWARE\\Eclipse Adoptium\\JDK\\17.0.10.7\\hotspot\\MSI",
                                  L"Path", newer.c_str()));
    ASSERT_TRUE(setRegistryString(L"SOFTWARE\\Azul Systems\\Zulu\\zulu-11", L"InstallationPath",
                                  empty.c_str()));

    CJvmCandidates* list = new CJvmCandidates();
    addRegisteredRuntimes(list);
    static const wchar_t* const layouts[] = BRONTEL_JAVA_HOME_LIBRARIES;
    ASSERT_EQ(list->count, 4);
    EXPECT_EQ(std::wstring(list->items[0].path), join(jdk, layouts[0]));
    EXPECT_STREQ(list->items[0].origin, L"registry HKLM\\SOFTWARE\\JavaSoft\\JDK\\17, JavaHome");
    // Versions newest first, compared number by number.
    EXPECT_EQ(std::wstring(list->items[1].path), join(newer, layouts[0]));
    EXPECT_STREQ(list->items[1].origin,
                 L"registry HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\17.0.10.7\\hotspot\\MSI, Path");
    EXPECT_EQ(std::wstring(list->items[2].path), join(older, layouts[0]));
    // A registered home without a library is still listed, so that the trace names it.
    EXPECT_EQ(std::wstring(list->items[3].path), empty);
    EXPECT_EQ(list->items[3].noLibrary, 1);
    EXPECT_EQ(list->items[0].noLibrary + list->items[1].noLibrary + list->items[2].noLibrary, 0);

    // JAVA_HOME comes before everything else.
    list->count = 0;
    ASSERT_TRUE(SetEnvironmentVariableW(L"JAVA_HOME", older.c_str()));
    findJavaRuntimes(list);
    SetEnvironmentVariableW(L"JAVA_HOME", nullptr);
    ASSERT_GE(list->count, 1);
    EXPECT_EQ(std::wstring(list->items[0].path), join(older, layouts[0]));
    EXPECT_STREQ(list->items[0].origin, L"JAVA_HOME");
    if (BRONTEL_REGISTERED_JAVA) {
        EXPECT_EQ(list->count, 5);
    } else {
        // Elsewhere the distribution's default Java follows, registered or not.
        EXPECT_EQ(list->count, 2);
        EXPECT_STREQ(list->items[1].origin, L"the distribution's default Java");
    }

    // The list never overflows, however many runtimes are registered.
    list->count = 0;
    for (int i = 0; i < BRONTEL_MAX_JVM_CANDIDATES + 5; ++i) {
        addJavaHomeCandidate(list, jdk.c_str(), L"test");
    }
    EXPECT_EQ(list->count, BRONTEL_MAX_JVM_CANDIDATES);
    delete list;
    for (const wchar_t* key :
         {L"SOFTWARE\\JavaSoft", L"SOFTWARE\\Eclipse Adoptium", L"SOFTWARE\\Azul Systems"}) {
        testsupport::deleteRegistryTree(key);
    }
}
