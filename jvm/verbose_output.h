// The Java VM's diagnostic output goes into the service's verbose-output file (my_vfprintf, the
// VM's vfprintf hook). The file is opened before the VM starts and judged on its handle; a link
// found on its way, or a second name of the file, keeps it unused for the rest of the run.
#ifndef BRONTEL_JVM_VERBOSE_OUTPUT_H
#define BRONTEL_JVM_VERBOSE_OUTPUT_H

#include "trace/logger.h"

#include <stdio.h>

// Opens the file at `path` for appending, created when missing (its folder is not), as a C
// runtime stream into *opened. FILES_OK, FILES_LINK, FILES_HARD_LINK or FILES_FAILED (with
// *error).
int openVerboseOutputFile(const wchar_t* path, FILE** opened, DWORD* error);
// Opens g_pVerboseOutputFile before the VM starts, tracing a refusal; a file that cannot be
// opened now for another reason is tried again on the VM's next write.
void prepareVerboseOutput(CLogger* logger);

#endif
