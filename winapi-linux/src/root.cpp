// The root directory under which the stand-in keeps system-wide state, so that separate
// processes (installer, service, sender, tests) see the same machine.
#include "kobject.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace standin {

const std::string& rootDirectory() {
    static const std::string root = [] {
        const char* explicitRoot = getenv("BRONTEL_ROOT");
        if (explicitRoot != nullptr && *explicitRoot != '\0') {
            return std::string(explicitRoot);
        }
        const char* state = getenv("XDG_STATE_HOME");
        if (state != nullptr && *state != '\0') {
            return std::string(state) + "/brontel";
        }
        const char* home = getenv("HOME");
        return std::string(home && *home ? home : "/tmp") + "/.local/state/brontel";
    }();
    return root;
}

bool ensureRootDirectory() {
    const std::string& root = rootDirectory();
    struct stat info;
    if (stat(root.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    // Create each missing component.
    for (size_t slash = root.find('/', 1);; slash = root.find('/', slash + 1)) {
        std::string part = root.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    return stat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace standin
