// Pipe names (\\.\pipe\NAME) and the socket paths under the root that stand for them.
#include "kobject.h"

#include <cstdio>
#include <cwchar>
#include <sys/un.h>

namespace standin {

namespace {
const wchar_t pipePrefix[] = L"\\\\.\\pipe\\";
}

bool isPipeName(const wchar_t* name) {
    return name != nullptr && wcsncmp(name, pipePrefix, wcslen(pipePrefix)) == 0;
}

std::string pipeSocketBase(const wchar_t* name) {
    if (!isPipeName(name)) {
        return std::string();
    }
    std::string pipe = toUtf8(name + wcslen(pipePrefix));
    // Keep readable names; hash anything long or with path separators so it fits a socket path.
    std::string safe;
    for (char c : pipe) {
        safe.push_back((c == '/' || c == '\\' || c == '\0') ? '_' : c);
    }
    std::string dir = rootDirectory() + "/pipes/";
    const size_t room = sizeof(sockaddr_un{}.sun_path) - 1 - 8; // ".NN.sock" suffix
    if (dir.size() + safe.size() > room || safe != pipe) {
        uint64_t hash = 1469598103934665603ull;
        for (unsigned char c : pipe) {
            hash = (hash ^ c) * 1099511628211ull;
        }
        char hex[17];
        snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
        safe = std::string("h-") + hex;
    }
    return dir + safe;
}

} // namespace standin
