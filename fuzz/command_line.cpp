// Fuzz target: the command-line parser. The input is the argument vector, one argument per
// line; the program name comes first, as Windows hands it over.
#include "app/parameters.h"
#include "fuzz_support.h"

using fuzzsupport::decodeText;
using fuzzsupport::splitLines;

namespace {
CLogger* logger = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::setUpProcess();
    // One logger for the whole run, created before any -t could switch tracing on: a trace file
    // named by fuzz input is never opened.
    logger = new CLogger();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> args = splitLines(decodeText(data, size));
    std::vector<wchar_t*> argv;
    argv.push_back(const_cast<wchar_t*>(L"brontel.exe"));
    if (size > 0) {
        for (std::wstring& arg : args) {
            argv.push_back(&arg[0]);
        }
    }
    int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    CParameters parameters(logger);
    int result = parameters.parseCommandLine(argc, argv.data());

    FUZZ_CHECK(result == 0 || result == 1 || result == 2, "result is 0, 1 or 2");
    FUZZ_CHECK((result == 2) == (argc < 2), "result 2 exactly for an empty command line");
    if (result == 0) {
        // Every request that needs an argument got it: the dispatch may rely on the strings.
        if (parameters.installRequested() || parameters.skeletonFileNeeded()) {
            FUZZ_CHECK(parameters.getConfigFileName() != nullptr, "-i/-c carry a file name");
        }
        if (parameters.startedBySCM() || parameters.executeWithoutSCM() ||
            parameters.displayRequested() || parameters.signalRequested()) {
            FUZZ_CHECK(parameters.getServiceName() != nullptr, "mode carries a service name");
        }
        if (parameters.signalRequested()) {
            FUZZ_CHECK(parameters.getSignal() != nullptr, "-s carries a signal");
        }
        if (parameters.uninstallRequested()) {
            FUZZ_CHECK(parameters.getServiceName() != nullptr ||
                           parameters.getConfigFileName() != nullptr,
                       "-u/-r carry a file or a service name");
        }
    }
    // The strings point into the vector handed in, never elsewhere.
    const wchar_t* strings[] = {parameters.getConfigFileName(), parameters.getServiceName(),
                                parameters.getAccountName(), parameters.getAccountPassword(),
                                parameters.getSignal()};
    for (const wchar_t* s : strings) {
        if (s == nullptr) {
            continue;
        }
        bool found = false;
        for (int i = 1; i < argc; ++i) {
            found = found || s == argv[i];
        }
        FUZZ_CHECK(found, "string arguments point into argv");
    }
    // Echo and the help text must cope with whatever was given.
    if (result == 2 || parameters.helpRequested()) {
        parameters.showParameterHelp();
    }
    logger->enableStdout(0);
    return 0;
}
