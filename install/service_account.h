// The kinds of account a service may log on as, and what each needs: the logon right, a
// password, and the SID that must keep reading the service's settings.
#ifndef BRONTEL_INSTALL_SERVICE_ACCOUNT_H
#define BRONTEL_INSTALL_SERVICE_ACCOUNT_H

#include "platform/winapi.h"
#include "trace/logger.h"

#include <string>

enum ServiceAccountKind {
    ACCOUNT_LOCAL_SYSTEM, // LocalSystem (also null or NT AUTHORITY\SYSTEM)
    ACCOUNT_BUILT_IN,     // NT AUTHORITY\LocalService, NT AUTHORITY\NetworkService
    ACCOUNT_VIRTUAL,      // NT SERVICE\<service name>
    ACCOUNT_MANAGED,      // DOMAIN\name$, a group-managed service account
    ACCOUNT_USER,         // any other account, which logs on with its password
};

ServiceAccountKind serviceAccountKind(const wchar_t* account);
// The name as the service manager takes it: the built-in service accounts in full
// ("LocalService" is NT AUTHORITY\LocalService); any other name unchanged.
std::wstring serviceStartName(const wchar_t* account);

// Before the service manager is given the account: grants the logon right where Windows needs
// it (a managed account, or a user with its password), and says what is wrong with the password:
// given for an account that has none (it is not used), or missing for a user. Returns the
// password to hand on, null for the accounts without one.
const wchar_t* prepareServiceLogon(const wchar_t* account, const wchar_t* password,
                                   CLogger* logger);

// The SID text of the account the service runs as; empty for LocalSystem. 0, or the lookup's
// error (a virtual account is known only once its service exists).
DWORD accountSidText(const wchar_t* account, std::wstring& sid);

#endif
