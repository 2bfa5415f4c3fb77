// Files the service writes must not be redirected by a link: a folder that ordinary users can
// write would otherwise let them point a service running as LocalSystem at any file.
#ifndef BRONTEL_TRACE_PATH_LINKS_H
#define BRONTEL_TRACE_PATH_LINKS_H

#include "platform/winapi.h"

// 1 when the file or any folder on its path that exists is a link (a reparse point: symbolic
// link, junction or mount point); 0 otherwise, also for a path that does not exist yet.
int pathHasLink(const wchar_t* path);

#endif
