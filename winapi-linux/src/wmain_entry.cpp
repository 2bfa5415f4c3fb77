// Windows hands a console program its command line as wide strings through wmain; here the
// UTF-8 arguments are converted and passed on the same way.
#include "kobject.h"
#include "scm_internal.h"

#include <clocale>
#include <langinfo.h>
#include <string.h>
#include <vector>

extern "C" int wmain(int argc, wchar_t** argv);

int main(int argc, char** argv) {
    // A service's program doubles as the stand-in manager's recovery watcher for its runs.
    int watcherExit = 0;
    if (standin::scm::runRecoveryWatcherIfAsked(&watcherExit)) {
        return watcherExit;
    }
    // Wide console output needs a UTF-8 locale; fall back to C.UTF-8 when the environment has none.
    if (setlocale(LC_ALL, "") == nullptr || strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        setlocale(LC_ALL, "C.UTF-8");
    }
    std::vector<std::wstring> args;
    args.reserve(argc);
    for (int i = 0; i < argc; ++i) {
        args.push_back(standin::fromUtf8(argv[i]));
    }
    std::vector<wchar_t*> wideArgv;
    for (auto& arg : args) {
        wideArgv.push_back(arg.data());
    }
    wideArgv.push_back(nullptr);
    return wmain(argc, wideArgv.data());
}
