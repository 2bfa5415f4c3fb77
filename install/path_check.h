// Installation's look at the paths the service will load from: a jvmDLL, a -jar file of the
// ready-made program service or a class path entry that does not exist here is named in a
// warning. Installation goes on either way: the path may exist only later, on another drive or
// in the service's own environment.
#ifndef BRONTEL_INSTALL_PATH_CHECK_H
#define BRONTEL_INSTALL_PATH_CHECK_H

#include "config/config_file.h"

// Environment references are resolved with this process's environment first.
void warnAboutMissingPaths(CConfigFile* config, CLogger* logger);

#endif
