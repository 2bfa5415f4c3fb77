// Installation (-i) and removal (-u, -r) of services, and stopping one (also for restarts).
#ifndef BRONTEL_INSTALL_INSTALLER_H
#define BRONTEL_INSTALL_INSTALLER_H

#include "app/parameters.h"
#include "config/config_file.h"

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
    int saveJVMOptions(CConfigFile* config);

  private:
    CLogger* logger;
    CParameters* params;
};

#endif
