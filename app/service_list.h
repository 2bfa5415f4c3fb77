// -b: the services this program installed; and the ownership test removal relies on.
#ifndef BRONTEL_APP_SERVICE_LIST_H
#define BRONTEL_APP_SERVICE_LIST_H

#include "platform/winapi.h"

// 1 when the service was installed by this program ("brontel" in its ImagePath, or an
// IBrontelClass value in its Parameters key), else 0. Prints and traces nothing.
int isBrontelService(const wchar_t* serviceName);
// Prints the listing; 0, or 8 when the registry's list of services cannot be read, 9 when out
// of memory.
int showBrontelServices();

#endif
