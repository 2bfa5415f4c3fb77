// Installation (-i) and removal (-u, -r) of services.
#ifndef BRONTEL_INSTALL_INSTALLER_H
#define BRONTEL_INSTALL_INSTALLER_H

#include "config/config_file.h"
#include "platform/result_codes.h"
#include "settings/config_keys.h"

#include <string>

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
    // -m (install/update.cpp): applies the file to the installed service it names. 0 also when
    // nothing had to change; *running: the service runs and needs a restart for the changes.
    // The service's name is kept for the caller in *serviceName (points into the file's text,
    // valid while the installer lives).
    int update(int* running, std::wstring* serviceName);

    // Room for the image path, terminator included.
    static const size_t imagePathChars = 2000;

  protected:
    int requiredOptionsPresent(CConfigFile* config);
    int createMSService(CConfigFile* config);
    int installOtherProperties(CConfigFile* config);
    // The image path "<executable>" -Z "<service name>" into imagePathChars characters; 0 or
    // BRONTEL_RESULT_OUT_OF_MEMORY when it would not fit (said).
    int buildImagePath(CConfigFile* config, const wchar_t* serviceName, wchar_t* imagePath);
    // The checks made before anything is changed: 0 or the failure's code.
    int checkConfig(CConfigFile* config);
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
