// The Service Control Manager as the program uses it: the manager opened with the caller's
// failure message, services opened from it, a service stopped and waited for, and the questions
// asked about a service (is it ours, does it run, is its start delayed). Every handle closes
// itself.
#ifndef BRONTEL_REGISTRY_SERVICE_MANAGER_H
#define BRONTEL_REGISTRY_SERVICE_MANAGER_H

#include "platform/handles.h"
#include "trace/logger.h"

class CServiceManager {
  public:
    explicit CServiceManager(CLogger* logger);
    CServiceManager(const CServiceManager&) = delete;
    CServiceManager& operator=(const CServiceManager&) = delete;

    // Opens the local machine's manager with `access`. On failure `failureText` is traced with
    // the error and the system's text (nothing is traced when it is null); 1 open, 0 not.
    int open(DWORD access, const wchar_t* failureText);
    SC_HANDLE get() const { return manager.get(); }
    // Opens a service of the open manager into `service`; failures are traced as for open.
    int openService(CServiceHandle& service, const wchar_t* serviceName, DWORD access,
                    const wchar_t* failureText);
    // Asks the service to stop and waits while it shows progress. 1 when it stopped, was not
    // running or cannot be opened; 0 when stopping failed or it stopped making progress.
    int stopService(const wchar_t* serviceName);

  private:
    // Keeps `opened` in `into`; a null one is a failure, traced with `failureText` unless null.
    int take(CServiceHandle& into, SC_HANDLE opened, const wchar_t* failureText);

    CLogger* logger;
    CServiceHandle manager;
};

// 1 when the service was installed by this program ("brontel" in its ImagePath, or an
// IBrontelClass value in its Parameters key), else 0. Prints and traces nothing.
int isBrontelService(const wchar_t* serviceName);
// 1 when the Service Control Manager reports the service in any state but stopped; 0 also when
// it cannot be asked.
int isServiceRunning(const wchar_t* serviceName);
// Whether the manager holds the service's automatic start back until the other automatic
// services have started; 0 also when it cannot be asked.
int isDelayedAutoStart(const wchar_t* serviceName);
// Sends the stop control: 0 with `status` filled when it was taken, or when a stop is under way
// already (the manager refuses a second one, 1061, yet the service is stopping); else the error.
DWORD askToStop(SC_HANDLE service, SERVICE_STATUS* status);

#endif
