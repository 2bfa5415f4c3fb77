#include "runtime/service/preinit_program.h"

#include "platform/path_list.h"
#include "platform/winapi.h"
#include "runtime/control/command_text.h"

#include <vector>
#include <wchar.h>

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

size_t skipBlanks(const std::wstring& line, size_t at) {
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    return at;
}

size_t wordEnd(const std::wstring& line, size_t at) {
    while (at < line.size() && !isBlank(line[at])) {
        ++at;
    }
    return at;
}

wchar_t lowerAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Ends in the extension of a program the system starts (".exe", ".com", ".bat", ".cmd").
bool hasProgramExtension(const std::wstring& name) {
    static const wchar_t* const extensions[] = {L".exe", L".com", L".bat", L".cmd"};
    for (const wchar_t* extension : extensions) {
        size_t n = wcslen(extension);
        if (name.size() < n) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) {
            same = lowerAscii(name[name.size() - n + i]) == extension[i];
        }
        if (same) {
            return true;
        }
    }
    return false;
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

// The word after an unquoted program's first word reads as the rest of that program's path: a
// relative path or a program's file name, rather than an option, an absolute path or a setting.
bool continuesPath(const std::wstring& word) {
    if (word.empty() || word[0] == L'-' || word[0] == L'"' || isAbsolute(word) ||
        word.find_first_of(L"=:\"") != std::wstring::npos) {
        return false;
    }
    return hasFolder(word) || hasProgramExtension(word);
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
        for (std::wstring folder : splitPathList(list)) {
            if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
                folder = folder.substr(1, folder.size() - 2);
            }
            if (isAbsolute(folder)) {
                folders.push_back(folder);
            }
        }
    }
    return folders;
}

} // namespace

int resolvePreinitProgram(const wchar_t* command, PreinitProgram& program) {
    program.path.clear();
    program.named.clear();
    program.hasArguments = 0;
    std::wstring line = command != nullptr ? command : L"";
    size_t begin = skipBlanks(line, 0);
    size_t end = begin;
    bool quoted = begin < line.size() && line[begin] == L'"';
    if (quoted) {
        size_t close = line.find(L'"', begin + 1);
        end = close == std::wstring::npos ? line.size() : close + 1;
        program.named =
            line.substr(begin + 1, (close == std::wstring::npos ? line.size() : close) - begin - 1);
    } else {
        end = wordEnd(line, begin);
        program.named = line.substr(begin, end - begin);
    }
    program.hasArguments = skipBlanks(line, end) < line.size();
    if (!quoted) {
        // Every longer stretch up to a blank is a name the system would also try.
        for (size_t at = end; at < line.size(); ++at) {
            bool stretchEnds = at + 1 == line.size() || isBlank(line[at + 1]);
            if (!isBlank(line[at]) && stretchEnds &&
                isProgram(line.substr(begin, at + 1 - begin), nullptr)) {
                program.named = line.substr(begin, at + 1 - begin);
                return PREINIT_PROGRAM_NEEDS_QUOTES;
            }
        }
        // Whether or not anything exists there yet: the intended program may be missing (a
        // share not mounted, an upgrade half done) while a shorter stretch has been planted.
        size_t next = skipBlanks(line, end);
        std::wstring word = line.substr(next, wordEnd(line, next) - next);
        if (!hasProgramExtension(program.named) && continuesPath(word)) {
            program.named = line.substr(begin, wordEnd(line, next) - begin);
            return PREINIT_PROGRAM_NEEDS_QUOTES;
        }
    }
    if (program.named.empty()) {
        return PREINIT_PROGRAM_NOT_FOUND;
    }
    if (hasFolder(program.named)) {
        if (!isAbsolute(program.named)) {
            return PREINIT_PROGRAM_NOT_ABSOLUTE;
        }
        return isProgram(program.named, &program.path) ? PREINIT_PROGRAM_OK
                                                       : PREINIT_PROGRAM_NOT_FOUND;
    }
    for (const std::wstring& folder : searchFolders()) {
        wchar_t last = folder.back();
        // Joined with the separator the folder itself uses.
        const wchar_t* separator =
            folder.find(L'\\') == std::wstring::npos && folder.find(L'/') != std::wstring::npos
                ? L"/"
                : L"\\";
        std::wstring joined =
            folder + (last == L'\\' || last == L'/' ? L"" : separator) + program.named;
        if (isProgram(joined, &program.path)) {
            return PREINIT_PROGRAM_OK;
        }
    }
    return PREINIT_PROGRAM_NOT_FOUND;
}
