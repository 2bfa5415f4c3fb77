// The parsed command line: request flags and the string arguments, which point into argv.
#ifndef BRONTEL_APP_PARAMETERS_H
#define BRONTEL_APP_PARAMETERS_H

#include "trace/logger.h"

class CParameters {
  public:
    explicit CParameters(CLogger* logger);

    int parseCommandLine(int argc, wchar_t** argv);
    void showParameterHelp();

    int helpRequested() const { return helpFlag; }
    int installRequested() const { return installFlag; }
    int uninstallRequested() const { return uninstallFlag; }
    int startedBySCM() const { return scmFlag; }
    int executeWithoutSCM() const { return noScmFlag; }
    int isConfigFileUnicode() const { return configFileUnicode; }
    int skeletonFileNeeded() const { return skeletonFlag; }
    int displayAllRequested() const { return displayAllFlag; }
    int displayRequested() const { return displayFlag; }
    int signalRequested() const { return signalFlag; }
    int updateRequested() const { return updateFlag; }
    int restartAfterUpdate() const { return restartAfterFlag; }
    wchar_t* getConfigFileName() const { return configFileName; }
    wchar_t* getServiceName() const { return serviceName; }
    wchar_t* getAccountName() const { return accountName; }
    wchar_t* getAccountPassword() const { return accountPassword; }
    wchar_t* getSignal() const { return signal; }
    // -q 1, -Q 2, else 0.
    int statusRequested() const { return statusForm; }
    // -start 1, -stop 2, -restart 3, else 0.
    int operationRequested() const { return operation; }
    // -W: the bound in seconds, 0 when not given.
    DWORD getWaitSeconds() const { return waitSeconds; }
    const wchar_t* getBuildDate() const;
    const wchar_t* getBuildTime() const;

  private:
    struct OptionRow;
    static const OptionRow* findOption(const wchar_t* word);

    CLogger* logger;
    int helpFlag;
    int installFlag;
    int uninstallFlag;
    int scmFlag;
    int noScmFlag;
    int configFileUnicode;
    int skeletonFlag;
    int displayAllFlag;
    int displayFlag;
    wchar_t* configFileName;
    wchar_t* serviceName;
    wchar_t* accountName;
    wchar_t* accountPassword;
    int signalFlag;
    wchar_t* signal;
    int statusForm;
    int operation;
    DWORD waitSeconds;
    int updateFlag;       // -m
    int restartAfterFlag; // -y
};

#endif
