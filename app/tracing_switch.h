// -t: switches the trace file on or off for all later processes through the registry.
#ifndef BRONTEL_APP_TRACING_SWITCH_H
#define BRONTEL_APP_TRACING_SWITCH_H

#include "trace/logger.h"

void enableTracing(const wchar_t* fileName, CLogger* logger);

#endif
