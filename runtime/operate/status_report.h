// -q and -Q: one service's status for a person, or as name=value lines for scripts; and the
// lines that say a service's exit codes, which the start and stop commands print on failure.
#ifndef BRONTEL_RUNTIME_OPERATE_STATUS_REPORT_H
#define BRONTEL_RUNTIME_OPERATE_STATUS_REPORT_H

#include "runtime/operate/service_facts.h"
#include "trace/logger.h"

// Prints the status; 0 when the service runs, 37 when it is installed but in any other state,
// 11 when it does not exist or brontel did not install it, 8 when it cannot be asked.
int showServiceStatus(const wchar_t* serviceName, int scriptForm, CLogger* logger);
// "Windows exit code: N (text)" and "Service exit code: N (words)", each a line.
void printExitCodes(const SERVICE_STATUS_PROCESS& status);
// "Events: <where the service's event log entries are read>" as a line, then "Last event:" with
// the service's newest entry when the log gives one back that was written at `since` (seconds
// since 1970, UTC) or later.
void printEventPlace(const wchar_t* serviceName, DWORD since);
// The sentence for a name that is no service of brontel's (as -x says it).
void printNotInstalled(const wchar_t* serviceName, CLogger* logger);

#endif
