#include "cmdline.h"

#include "kobject.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace standin {

namespace {
bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool isExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}
} // namespace

std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> args;
    if (commandLine == nullptr) {
        return args;
    }
    const wchar_t* p = commandLine;
    while (isBlank(*p)) {
        ++p;
    }
    if (*p == L'\0') {
        return args;
    }
    // The program name: quotes only group, backslashes are path separators.
    std::wstring program;
    bool quoted = false;
    for (; *p != L'\0'; ++p) {
        if (*p == L'"') {
            quoted = !quoted;
        } else if (!quoted && isBlank(*p)) {
            break;
        } else {
            program.push_back(*p);
        }
    }
    args.push_back(program);

    for (;;) {
        while (isBlank(*p)) {
            ++p;
        }
        if (*p == L'\0') {
            break;
        }
        std::wstring arg;
        quoted = false;
        while (*p != L'\0' && (quoted || !isBlank(*p))) {
            if (*p == L'\\') {
                size_t slashes = 0;
                while (*p == L'\\') {
                    ++slashes;
                    ++p;
                }
                if (*p == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        arg.push_back(L'"');
                        ++p;
                    }
                } else {
                    arg.append(slashes, L'\\');
                }
            } else if (*p == L'"') {
                if (quoted && p[1] == L'"') {
                    arg.push_back(L'"');
                    p += 2;
                } else {
                    quoted = !quoted;
                    ++p;
                }
            } else {
                arg.push_back(*p++);
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string findProgram(const std::wstring& program) {
    if (program.empty()) {
        return std::string();
    }
    std::string name = toUtf8(program.c_str());
    if (name.find('/') != std::string::npos) {
        return isExecutableFile(name) ? name : std::string();
    }
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
        if (colon == std::string::npos) {
            return std::string();
        }
        start = colon + 1;
    }
}

} // namespace standin
