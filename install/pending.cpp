// Placeholder until installation and removal land.
#include "install/installer.h"

#include <stdio.h>

CInstaller::CInstaller(CLogger* logger, CParameters* params) : logger(logger), params(params) {}
int CInstaller::install() {
    wprintf(L"brontel: installation (-i) is not built yet\n");
    return 1;
}
int CInstaller::uninstall() {
    wprintf(L"brontel: removal (-u, -r) is not built yet\n");
    return 1;
}
