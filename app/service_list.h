// -b: the services this program installed. Whether a service is one of them is the service
// manager helper's isBrontelService.
#ifndef BRONTEL_APP_SERVICE_LIST_H
#define BRONTEL_APP_SERVICE_LIST_H

#include "registry/service_manager.h"

// Prints the listing; 0, or BRONTEL_RESULT_SCM_FAILED when the registry's list of services
// cannot be read, BRONTEL_RESULT_OUT_OF_MEMORY.
int showBrontelServices();

#endif
