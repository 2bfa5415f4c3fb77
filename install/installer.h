// Installation (-i) and removal (-u, -r) of services.
#ifndef BRONTEL_INSTALL_INSTALLER_H
#define BRONTEL_INSTALL_INSTALLER_H

#include "config/config_file.h"
#include "platform/result_codes.h"
#include "settings/config_keys.h"

// What installation and removal take from the command line; the texts outlive the installer.
struct InstallRequest {
    const wchar_t* configFileName; // -i, -u
    int configFileUnicode;         // -w
    const wchar_t* serviceName;    // -r
    const wchar_t* account;        // -a, null for LocalSystem
    const wchar_t* password;       // -p
};

class CInstaller {
  public:
    CInstaller(CLogger* logger, const InstallRequest& request);
    ~CInstaller() {}

    // 0, or the failure's result code (platform/result_codes.h).
    int install();
    int uninstall();

  protected:
    int requiredOptionsPresent(CConfigFile* config);
    int createMSService(CConfigFile* config);
    int installOtherProperties(CConfigFile* config);
    int addServiceDescription(CConfigFile* config);
    // A numbered key's values (jvmOption1, 2, ...), and the removal of stored ones beyond them.
    int saveNumberedValues(CConfigFile* config, const ConfigKey& entry);
    // install/recovery_settings.cpp: the recovery values applied to the created service (0 or
    // BRONTEL_RESULT_SCM_FAILED).
    int applyServiceConfig2(SC_HANDLE service, CConfigFile* config, int delayedStart);
    void registerAsEventSource(CConfigFile* config);

  private:
    CLogger* logger;
    InstallRequest request;
};

#endif
