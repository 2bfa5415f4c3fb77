// Files a service running as LocalSystem writes (the output capture, the trace, the Java VM's
// verbose output) can never be pointed elsewhere: not by a link planted at a file, not by a
// folder that is or becomes a link, not by a second name of another file, not by a folder that
// others may change, and not by swapping a folder while the file is being opened.
#include "files/file_results.h"
#include "files/folder_security.h"
#include "jvm/jvm.h"
#include "jvm/verbose_output.h"
#include "runtime/capture/rotating_file.h"
#include "test_support.h"
#include "trace_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <atomic>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

TEST(FolderSecurity, OnlyTrustedOwnersAndWritersPass) {
    const std::wstring account = L"S-1-5-21-1-2-3-1001";
    std::vector<std::wstring> trusted = trustedWriters(account);
    struct Case {
        const wchar_t* sddl;
        int expected;
    } cases[] = {
        // brontel's own folder, and one of the service's account.
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", FILES_OK},
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", FILES_OK},
        // Reading, entries only for what is created within, and denials give nobody anything.
        {L"O:BAD:PAI(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)(D;;FA;;;WD)", FILES_OK},
        {L"O:BAD:P", FILES_OK},
        // Owned by someone else, who may always change the DACL.
        {L"O:S-1-5-21-1-2-3-1002D:P(A;OICI;FA;;;SY)", FILES_OTHERS_WRITE},
        {L"O:AND:(A;OICI;FA;;;SY)", FILES_OTHERS_WRITE},
        // What a folder made under %ProgramData% inherits: Users may add files and folders.
        {L"O:BAD:AI(A;OICIID;FA;;;SY)(A;CIID;DCLCRPCR;;;BU)", FILES_OTHERS_WRITE},
        {L"O:SYD:(A;OICI;0x1301bf;;;AU)", FILES_OTHERS_WRITE},
        {L"O:SYD:(A;;GW;;;WD)", FILES_OTHERS_WRITE},
        {L"O:SYD:(A;;WD;;;IU)", FILES_OTHERS_WRITE},
        {L"O:SYD:NO_ACCESS_CONTROL", FILES_OTHERS_WRITE},
        // A conditional entry's parentheses nest.
        {L"O:SYD:(XA;;FA;;;WD;(Member_of {SID(BA)}))", FILES_OTHERS_WRITE},
        // What cannot be read is not trusted.
        {L"O:SYD:(A;;ZZ;;;WD)", FILES_SECURITY_UNKNOWN},
        {L"D:(A;;FA;;;SY)", FILES_SECURITY_UNKNOWN},
        {L"O:SYD:(A;;FA;;;SY", FILES_SECURITY_UNKNOWN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, judgeFolderSddl(c.sddl, trusted)) << c.sddl;
    }
    // The well-known service accounts by their aliases.
    EXPECT_EQ(FILES_OK, judgeFolderSddl(L"O:LSD:(A;;FA;;;LS)", trustedWriters(L"S-1-5-19")));
    EXPECT_EQ(FILES_OTHERS_WRITE, judgeFolderSddl(L"O:LSD:(A;;FA;;;LS)", trustedWriters(L"")));
}

#ifndef _WIN32
using testsupport::narrow;
using testsupport::widen;
std::string readText(const std::string& path) {
    return testsupport::readFileBytes(widen(path));
}
void writeText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(testsupport::writeFileBytes(widen(path), text)) << path;
}
bool isLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}
int modeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}
bool traced(TraceCapture& trace, const std::string& line) {
    for (const std::string& one : trace.lines()) {
        if (one == line) {
            return true;
        }
    }
    return false;
}

// Victims: files of someone else's that the service must leave byte for byte as they are.
struct Victims {
    std::string dir;
    explicit Victims(const std::string& base) : dir(base + "/victims") {
        mkdir(dir.c_str(), 0755);
        for (const char* name : {"a", "b", "c", "out.log.1", "out.log.2"}) {
            writeText(dir + "/" + name, std::string("victim ") + name + "\n");
        }
    }
    void expectUntouched() {
        for (const char* name : {"a", "b", "c", "out.log.1", "out.log.2"}) {
            EXPECT_EQ(std::string("victim ") + name + "\n", readText(dir + "/" + name)) << name;
        }
    }
};

void writeLines(CRotatingFile& file, int count) {
    for (int i = 0; i < count; ++i) {
        std::string line = "line " + std::to_string(i) + "\n";
        file.write(line.data(), static_cast<DWORD>(line.size()));
    }
}

// Writes `count` numbered lines through a capture file of the given rotation size (three kept).
void capture(const std::string& path, DWORD rotateBytes, TraceCapture& trace, int count) {
    CRotatingFile file(widen(path).c_str(), L"standard output", rotateBytes, 3, trace.get(),
                       nullptr);
    writeLines(file, count);
}

// The last line of a file that ends with a numbered line of the capture.
std::string lastLine(const std::string& path) {
    std::string text = readText(path);
    size_t at = text.rfind("line ");
    return at == std::string::npos ? text : text.substr(at);
}

TEST(CaptureFiles, LinksAndSecondNamesAreNeverWrittenRenamedOrRemoved) {
    TraceCapture trace(L"capture-links");
    std::string base = narrow(testsupport::makeScratchDir(L"capture-links"));
    Victims victims(base);
    const std::string link = " (open refused): ";
    // A link planted at the file.
    ASSERT_EQ(0, mkdir((base + "/linked").c_str(), 0755));
    ASSERT_EQ(0, symlink((victims.dir + "/a").c_str(), (base + "/linked/out.log").c_str()));
    {
        CRotatingFile file(widen(base + "/linked/out.log").c_str(), L"standard output", 0, 3,
                           trace.get(), nullptr);
        EXPECT_EQ(0, file.prepare());
        writeLines(file, 5);
    }
    EXPECT_TRUE(
        traced(trace, "Cannot write the captured output to " + base + "/linked/out.log" + link));
    EXPECT_TRUE(traced(trace, "The file, or a folder on its path, is a link (a symbolic link, "
                              "junction or mount point); brontel does not follow it."));
    // A second name of a victim.
    ASSERT_EQ(0, mkdir((base + "/hard").c_str(), 0755));
    ASSERT_EQ(0, ::link((victims.dir + "/b").c_str(), (base + "/hard/out.log").c_str()));
    capture(base + "/hard/out.log", 0, trace, 5);
    EXPECT_TRUE(traced(trace,
                       "The file has more than one name (a hard link); brontel does not write "
                       "into it."));
    // Links at every rotated name: rotation neither follows nor moves them.
    std::string rotated = base + "/rotated";
    ASSERT_EQ(0, mkdir(rotated.c_str(), 0755));
    const char* targets[] = {"a", "b", "c"};
    for (int n = 1; n <= 3; ++n) {
        std::string name = rotated + "/out.log." + std::to_string(n);
        ASSERT_EQ(0, symlink((victims.dir + "/" + targets[n - 1]).c_str(), name.c_str()));
    }
    capture(rotated + "/out.log", 20, trace, 12);
    victims.expectUntouched();
    EXPECT_TRUE(traced(trace, "Capture rotation leaves alone what is not a plain file of the "
                              "capture: out.log.3 is a link or has another name."));
    // The series goes on in plain files of its own, the newest line last.
    for (const char* name : {"out.log", "out.log.1", "out.log.2", "out.log.3"}) {
        EXPECT_FALSE(isLink(rotated + "/" + name)) << name;
    }
    EXPECT_EQ("line 11\n", lastLine(rotated + "/out.log"));
}

TEST(CaptureFiles, AFolderSwappedForALinkMidRunIsNeverFollowed) {
    TraceCapture trace(L"capture-swap");
    std::string base = narrow(testsupport::makeScratchDir(L"capture-swap"));
    Victims victims(base);
    std::string folder = base + "/logs";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    {
        CRotatingFile file(widen(folder + "/out.log").c_str(), L"standard output", 40, 2,
                           trace.get(), nullptr);
        EXPECT_EQ(0, file.prepare());
        writeLines(file, 4);
        // The folder goes, and a link to the victims' folder takes its name: rotation would
        // otherwise delete the victim's out.log.2 and overwrite its out.log.1.
        ASSERT_EQ(0, rename(folder.c_str(), (base + "/moved").c_str()));
        ASSERT_EQ(0, symlink(victims.dir.c_str(), folder.c_str()));
        writeLines(file, 20);
    }
    victims.expectUntouched();
    EXPECT_TRUE(traced(trace, "The output capture folder was moved, removed or replaced while the "
                              "service ran; the output goes on into the folder brontel opened: " +
                                  folder));
    // Nothing was lost: the lines went on in the folder that was opened.
    EXPECT_EQ("line 19\n", lastLine(base + "/moved/out.log"));
}

TEST(CaptureFiles, RefusedFoldersStopTheStartAndMissingOnesAreMadeForTheServiceAlone) {
    TraceCapture trace(L"capture-folders");
    std::string base = narrow(testsupport::makeScratchDir(L"capture-folders"));
    Victims victims(base);
    const std::string link = "The output capture folder is a link or lies behind one; the "
                             "service does not start: ";
    const std::string open = "Users other than LocalSystem, Administrators and the service's "
                             "account can change the output capture folder; the service does not "
                             "start: ";
    ASSERT_EQ(0, symlink(victims.dir.c_str(), (base + "/link").c_str()));
    ASSERT_EQ(0, mkdir((base + "/real").c_str(), 0755));
    ASSERT_EQ(0, symlink((base + "/real").c_str(), (base + "/behind").c_str()));
    ASSERT_EQ(0, mkdir((base + "/open").c_str(), 0777));
    ASSERT_EQ(0, chmod((base + "/open").c_str(), 0703));
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {{base + "/link/a", link + base + "/link"},
                 {base + "/behind/deeper/out.log", link + base + "/behind/deeper"},
                 {base + "/open/out.log", open + base + "/open"}};
    for (const Case& c : cases) {
        CRotatingFile file(widen(c.path).c_str(), L"standard output", 0, 3, trace.get(), nullptr);
        EXPECT_EQ(BRONTEL_RESULT_UNSAFE_CAPTURE_PATH, file.prepare()) << c.path;
        EXPECT_TRUE(traced(trace, c.message)) << c.message;
    }
    victims.expectUntouched();
    EXPECT_EQ(-1, modeOf(base + "/real/deeper"));
    // Missing folders are made for the service's account alone, and so is a new file.
    std::string made = base + "/new/deeper/out.log";
    {
        CRotatingFile file(widen(made).c_str(), L"standard output", 0, 3, trace.get(), nullptr);
        EXPECT_EQ(0, file.prepare());
        writeLines(file, 1);
    }
    EXPECT_EQ("line 0\n", readText(made));
    EXPECT_EQ(0700, modeOf(base + "/new"));
    EXPECT_EQ(0700, modeOf(base + "/new/deeper"));
    EXPECT_EQ(0600, modeOf(made));
}

// Swaps `real` (a folder) and `swap` (a link to the victims' folder) as fast as it can.
class FolderSwapper {
  public:
    FolderSwapper(const std::string& real, const std::string& swap)
        : stop(false), swaps(0), thread([this, real, swap] {
              while (!stop.load()) {
                  if (renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) ==
                      0) {
                      ++swaps;
                  }
              }
          }) {}
    ~FolderSwapper() {
        stop.store(true);
        thread.join();
    }
    std::atomic<bool> stop;
    std::atomic<long> swaps;

  private:
    std::thread thread;
};

TEST(TraceAndVerboseFiles, OpeningWhileAFolderIsSwappedForALinkNeverWritesIntoTheVictims) {
    std::string base = narrow(testsupport::makeScratchDir(L"swap-race"));
    std::string victims = base + "/victims";
    ASSERT_EQ(0, mkdir(victims.c_str(), 0755));
    writeText(victims + "/kept", "victim\n");
    std::string logs = base + "/logs";
    ASSERT_EQ(0, mkdir(logs.c_str(), 0755));
    ASSERT_EQ(0, symlink(victims.c_str(), (base + "/swap").c_str()));
    const int attempts = 300;
    int traced = 0;
    int verbose = 0;
    {
        FolderSwapper swapper(logs, base + "/swap");
        CLogger logger;
        for (int i = 0; i < attempts; ++i) {
            logger.enableLogFile(widen(logs + "/trace.txt").c_str());
            if (logger.isFileEnabled()) {
                logger.logMessage(L"traced");
                ++traced;
            }
            FILE* file = nullptr;
            DWORD error = 0;
            if (openVerboseOutputFile(widen(logs + "/vm.log").c_str(), &file, &error) == FILES_OK) {
                fputs("verbose\n", file);
                fclose(file);
                ++verbose;
            }
        }
        logger.enableLogFile(nullptr);
        EXPECT_GT(swapper.swaps.load(), 0);
    }
    // The victims' folder holds what it held; whatever was written went into the real folder,
    // whichever name it had at the time.
    EXPECT_EQ("victim\n", readText(victims + "/kept"));
    EXPECT_EQ(-1, modeOf(victims + "/trace.txt"));
    EXPECT_EQ(-1, modeOf(victims + "/vm.log"));
    std::string real = isLink(logs) ? base + "/swap" : logs;
    EXPECT_GT(traced, 0);
    EXPECT_GT(verbose, 0);
    EXPECT_EQ(static_cast<size_t>(verbose), readText(real + "/vm.log").size() / 8);
}

int verboseWrite(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = my_vfprintf(stdout, format, args);
    va_end(args);
    return written;
}

TEST(VerboseOutput, AFileFoundBehindALinkStaysRefusedForTheRun) {
    std::string base = narrow(testsupport::makeScratchDir(L"verbose-refused"));
    std::string victims = base + "/victims";
    ASSERT_EQ(0, mkdir(victims.c_str(), 0755));
    ASSERT_EQ(0, symlink(victims.c_str(), (base + "/logs").c_str()));
    std::wstring path = widen(base + "/logs/vm.log");
    g_pVerboseOutputFile = &path[0];
    EXPECT_EQ(-1, verboseWrite("%s\n", "first"));
    // Made right afterwards, the file is still not used: no further try is made in this run.
    ASSERT_EQ(0, unlink((base + "/logs").c_str()));
    ASSERT_EQ(0, mkdir((base + "/logs").c_str(), 0755));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(-1, verboseWrite("%s\n", "later"));
    }
    g_pVerboseOutputFile = nullptr;
    EXPECT_EQ(-1, modeOf(victims + "/vm.log"));
    EXPECT_EQ(-1, modeOf(base + "/logs/vm.log"));
}
#endif

} // namespace
