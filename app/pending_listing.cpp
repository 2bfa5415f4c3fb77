// Placeholder until the service listing lands.
#include "app/service_list.h"

#include <stdio.h>

void showBrontelServices() { wprintf(L"brontel: the service listing (-b) is not built yet\n"); }
