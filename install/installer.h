// Installation (-i) and removal (-u, -r) of services, and stopping one (also for restarts).
#ifndef BRONTEL_INSTALL_INSTALLER_H
#define BRONTEL_INSTALL_INSTALLER_H

#include "app/parameters.h"
#include "config/config_file.h"
#include "settings/config_keys.h"

// Removal results beyond the shared table: the service could not be stopped, or could not be
// opened for deletion or deleted. (The Service Control Manager that cannot be opened gives 8,
// as for installation.)
#define BRONTEL_RESULT_STOP_FAILED 25
#define BRONTEL_RESULT_DELETE_FAILED 26

class CInstaller {
  public:
    CInstaller(CLogger* logger, CParameters* params);
    ~CInstaller() {}

    int install();
    int uninstall();
    // 1 when the service stopped, was not running or cannot be opened; 0 when stopping failed.
    int stopService(SC_HANDLE scManager, const wchar_t* serviceName);

  protected:
    int requiredOptionsPresent(CConfigFile* config);
    int createMSService(CConfigFile* config);
    int installOtherProperties(CConfigFile* config);
    int addServiceDescription(CConfigFile* config);
    // A numbered key's values (jvmOption1, 2, ...), and the removal of stored ones beyond them.
    int saveNumberedValues(CConfigFile* config, const ConfigKey& entry);
    // install/recovery_settings.cpp: the recovery values applied to the created service (0 or 8).
    int applyServiceConfig2(SC_HANDLE service, CConfigFile* config, int delayedStart);
    void registerAsEventSource(CConfigFile* config);

  private:
    CLogger* logger;
    CParameters* params;
};

#endif
