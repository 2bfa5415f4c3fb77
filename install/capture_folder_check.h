// Installation's look at the output capture folders: what the service would refuse at its start
// (a folder that is a link or lies behind one, or that others may change) is said at -i
// already, while it can be put right. Installation goes on either way.
#ifndef BRONTEL_INSTALL_CAPTURE_FOLDER_CHECK_H
#define BRONTEL_INSTALL_CAPTURE_FOLDER_CHECK_H

#include "config/config_file.h"

// account: the -a account (null for LocalSystem). Only paths without environment references
// are looked at: those name the same folder for the service as here.
void warnAboutCaptureFolders(CConfigFile* config, const wchar_t* account, CLogger* logger);

#endif
