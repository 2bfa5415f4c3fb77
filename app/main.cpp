// Program entry: creates the logger and the parsed command line, runs exactly one mode, and
// returns its result as the exit code.
#include "app/parameters.h"
#include "app/service_list.h"
#include "config/config_file.h"
#include "install/installer.h"
#include "platform/result_codes.h"
#include "runtime/control/control_client.h"
#include "runtime/control/pipe_trust.h"
#include "runtime/operate/service_operations.h"
#include "runtime/operate/status_report.h"
#include "runtime/service/executor.h"
#include "trace/logger.h"

#include <string>

// The process-wide objects live in a namespace so that `log` cannot collide with the C
// library's log() (the executable exports its symbols for the JVM).
namespace brontel {
CLogger* log = nullptr;
CParameters* parameters = nullptr;
} // namespace brontel

using brontel::log;
using brontel::parameters;

namespace {
InstallRequest installRequestOf(const CParameters* parameters) {
    InstallRequest request;
    request.configFileName = parameters->getConfigFileName();
    request.configFileUnicode = parameters->isConfigFileUnicode();
    request.serviceName = parameters->getServiceName();
    request.account = parameters->getAccountName();
    request.password = parameters->getAccountPassword();
    return request;
}
// -m: the update, then what a running service needs for the changes to take effect.
int updateService(const CParameters* parameters, CLogger* log) {
    if (parameters->installRequested() || parameters->uninstallRequested()) {
        log->logMessage(L"Cannot specify -m with -i, -u or -r");
        return BRONTEL_RESULT_USAGE;
    }
    CInstaller* installer = new CInstaller(log, installRequestOf(parameters));
    int running = 0;
    std::wstring name;
    int result = installer->update(&running, &name);
    delete installer;
    if (result != 0 || !running) {
        return result;
    }
    if (!parameters->restartAfterUpdate()) {
        log->logMessage(L"The service ", name.c_str(),
                        L" is running: restart it for the changes to take effect (brontel -s "
                        L"<service> restart, or -m with -y).");
        return 0;
    }
    log->logMessage(L"Restarting the service ", name.c_str());
    CControlClient* client = new CControlClient(log, name.c_str());
    result = client->restart();
    delete client;
    return result;
}

// Installs or removes, saying so when it failed.
int runInstaller(bool install) {
    CInstaller* installer = new CInstaller(log, installRequestOf(parameters));
    int result = install ? installer->install() : installer->uninstall();
    if (result != 0) {
        log->logMessage(install ? L"Installation failed" : L"Uninstall failed");
    }
    delete installer;
    return result;
}

} // namespace

extern "C" int wmain(int argc, wchar_t** argv) {
    log = new CLogger();
    log->logEntry(L"main");
    // Libraries this process loads (the JVM's among them) are never searched for in the
    // current directory or along PATH, where any user may have placed one.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        DWORD error = GetLastError();
        log->logMessage(L"Cannot restrict the library search ", error);
        log->logSystemError(error);
    }
    parameters = new CParameters(log);
    int result = parameters->parseCommandLine(argc, argv);

    if (result == BRONTEL_RESULT_NO_ARGUMENTS) {
        parameters->showParameterHelp();
    } else if (result == 0) {
        if (parameters->helpRequested()) {
            parameters->showParameterHelp();
        } else if (parameters->displayRequested()) {
            result = CConfigFile::showServiceInfo(parameters->getServiceName(),
                                                  parameters->getConfigFileName(), log,
                                                  parameters->isConfigFileUnicode());
        } else if (parameters->displayAllRequested()) {
            result = showBrontelServices();
        } else if (parameters->skeletonFileNeeded()) {
            CConfigFile* config = new CConfigFile(log);
            result = config->generateSkeletonFile(parameters->getConfigFileName(),
                                                  parameters->isConfigFileUnicode());
            delete config;
        } else if (parameters->updateRequested()) {
            result = updateService(parameters, log);
        } else if (parameters->installRequested()) {
            if (parameters->uninstallRequested()) {
                log->logMessage(L"Cannot specify install and uninstall");
                result = BRONTEL_RESULT_USAGE;
            } else {
                result = runInstaller(true);
            }
        } else if (parameters->uninstallRequested()) {
            result = runInstaller(false);
        } else if (parameters->statusRequested()) {
            result = showServiceStatus(parameters->getServiceName(),
                                       parameters->statusRequested() == 2, log);
        } else if (parameters->operationRequested()) {
            int asked = parameters->operationRequested();
            result = operateService(parameters->getServiceName(),
                                    asked == 1   ? OPERATION_START
                                    : asked == 2 ? OPERATION_STOP
                                                 : OPERATION_RESTART,
                                    parameters->getWaitSeconds(), log);
        } else if ((parameters->signalRequested() ||
                    (parameters->executeWithoutSCM() && !parameters->startedBySCM())) &&
                   !isPipeSafeServiceName(parameters->getServiceName())) {
            // The name becomes part of the control pipe's path. Said on the console also for
            // -x, which otherwise keeps it for the Java program.
            log->enableStdout(1);
            log->logMessage(L"The service name must not contain \\ or /: ",
                            parameters->getServiceName());
            result = BRONTEL_RESULT_USAGE;
        } else if (parameters->signalRequested()) {
            CControlClient* client = new CControlClient(log, parameters->getServiceName());
            result = client->sendControlSignal(parameters->getSignal());
            delete client;
        } else if (parameters->startedBySCM()) {
            CExecutor* executor = new CExecutor(log, parameters->getServiceName());
            executor->execute(0);
            delete executor;
        } else if (parameters->executeWithoutSCM()) {
            CExecutor* executor = new CExecutor(log, parameters->getServiceName());
            result = executor->execute(1);
            delete executor;
        }
    }

    log->logExit(L"main", result);
    delete parameters;
    parameters = nullptr;
    delete log;
    log = nullptr;
    return result;
}
