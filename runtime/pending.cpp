// Placeholder until the service runtime lands.
#include "runtime/executor.h"

#include <stdio.h>

CExecutor* g_pExecutor = nullptr;

CExecutor::CExecutor(CLogger* logger, const wchar_t* serviceName)
    : withoutSCM(0), serviceName(serviceName), jvm(nullptr), serviceDoneEvent(nullptr),
      statusHandle(nullptr), serviceStatus(), logger(logger) {}
CExecutor::~CExecutor() {}
void CExecutor::execute(int) { wprintf(L"brontel: the service runtime (-Z, -x) is not built yet\n"); }
void CExecutor::sendControlSignal(const wchar_t*) {
    wprintf(L"brontel: signal sending (-s) is not built yet\n");
}
