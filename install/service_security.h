// The security of what installation creates. With Windows' defaults any interactive user may
// send a service the controls 128 to 255, and any local user may read its Parameters key, where
// JVM options may hold passwords and the pre-initialization command names a program. Both are
// narrowed after installation; a step that fails leaves Windows' default, with a warning, and
// the service as it would be without it.
#ifndef BRONTEL_INSTALL_SERVICE_SECURITY_H
#define BRONTEL_INSTALL_SERVICE_SECURITY_H

#include "platform/winapi.h"
#include "trace/logger.h"

#include <string>

// A service DACL in text form without the user-defined-control right in the entries that allow
// ordinary users something (interactive, authenticated, everyone, Users, guests, anonymous,
// network); an entry left with no right at all goes. 1 when anything changed, else 0 (also for
// a text it cannot read, which is then left alone).
int withoutUserControls(const std::wstring& dacl, std::wstring& result);
// The Parameters key's DACL: full control for LocalSystem and Administrators, not inherited
// from the Services key; read for the account whose SID text is given (none when empty).
std::wstring parametersKeyDacl(const wchar_t* accountSid);

void restrictUserControls(SC_HANDLE service, CLogger* logger);
// account: the -a account (null for LocalSystem), which must keep reading its settings.
void protectParametersKey(const wchar_t* serviceName, const wchar_t* account, CLogger* logger);

#endif
