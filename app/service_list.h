// -b: the services this program installed; and the ownership test removal relies on.
#ifndef BRONTEL_APP_SERVICE_LIST_H
#define BRONTEL_APP_SERVICE_LIST_H

#include "platform/winapi.h"

// 1 when the service was installed by this program ("brontel" in its ImagePath, or an
// IBrontelClass value in its Parameters key), else 0. Prints and traces nothing.
int isBrontelService(const wchar_t* serviceName);
void showBrontelServices();

#endif
