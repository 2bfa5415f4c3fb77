#include "runtime/service/preinit_program.h"

#include "platform/winapi.h"
#include "runtime/control/command_text.h"

#include <vector>

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool hasFolder(const std::wstring& name) {
    return name.find_first_of(L"\\/:") != std::wstring::npos;
}

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The name as given, with ".exe" tried first when it has no extension, as the system does.
bool isProgram(const std::wstring& path, std::wstring* found) {
    size_t slash = path.find_last_of(L"\\/");
    size_t dot = path.rfind(L'.');
    bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    std::vector<std::wstring> candidates;
    if (!hasExtension) {
        candidates.push_back(path + L".exe");
    }
    candidates.push_back(path);
    for (const std::wstring& candidate : candidates) {
        if (isFile(candidate)) {
            if (found != nullptr) {
                *found = candidate;
            }
            return true;
        }
    }
    return false;
}

bool isAbsolute(const std::wstring& folder) {
    return (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
           (!folder.empty() && (folder[0] == L'\\' || folder[0] == L'/'));
}

// The program's own folder, then the absolute folders of PATH; never the current directory.
std::vector<std::wstring> searchFolders() {
    std::vector<std::wstring> folders;
    std::wstring self = getExecutablePath();
    size_t slash = self.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        folders.push_back(self.substr(0, slash));
    }
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> path(size + 1);
        DWORD got = GetEnvironmentVariableW(L"PATH", path.data(), size + 1);
        std::wstring list(path.data(), got < size + 1 ? got : 0);
        const wchar_t* separators = BRONTEL_PATH_LIST_SEPARATOR;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find_first_of(separators, start);
            if (end == std::wstring::npos) {
                end = list.size();
            }
            std::wstring folder = list.substr(start, end - start);
            if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
                folder = folder.substr(1, folder.size() - 2);
            }
            if (isAbsolute(folder)) {
                folders.push_back(folder);
            }
            start = end + 1;
        }
    }
    return folders;
}

} // namespace

int resolvePreinitProgram(const wchar_t* command, std::wstring& program) {
    program.clear();
    std::wstring line = command != nullptr ? command : L"";
    size_t begin = 0;
    while (begin < line.size() && isBlank(line[begin])) {
        ++begin;
    }
    std::wstring name;
    if (begin < line.size() && line[begin] == L'"') {
        size_t close = line.find(L'"', begin + 1);
        name = line.substr(begin + 1,
                           close == std::wstring::npos ? std::wstring::npos : close - begin - 1);
    } else {
        size_t end = begin;
        while (end < line.size() && !isBlank(line[end])) {
            ++end;
        }
        name = line.substr(begin, end - begin);
        // Every longer stretch up to a blank is a name the system would also try.
        for (size_t at = end; at < line.size(); ++at) {
            bool stretchEnds = at + 1 == line.size() || isBlank(line[at + 1]);
            if (!isBlank(line[at]) && stretchEnds &&
                isProgram(line.substr(begin, at + 1 - begin), nullptr)) {
                return PREINIT_PROGRAM_NEEDS_QUOTES;
            }
        }
    }
    if (name.empty() || hasFolder(name)) {
        return PREINIT_PROGRAM_OK;
    }
    for (const std::wstring& folder : searchFolders()) {
        wchar_t last = folder.back();
        // Joined with the separator the folder itself uses.
        const wchar_t* separator =
            folder.find(L'\\') == std::wstring::npos && folder.find(L'/') != std::wstring::npos
                ? L"/"
                : L"\\";
        std::wstring joined = folder + (last == L'\\' || last == L'/' ? L"" : separator) + name;
        if (!isProgram(joined, &program)) {
            continue;
        }
        return PREINIT_PROGRAM_OK;
    }
    return PREINIT_PROGRAM_NOT_FOUND;
}
