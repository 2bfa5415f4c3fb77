// What the files module answers: files a service writes as LocalSystem are opened only where no
// link (symbolic link, junction, mount point) and no hard link can send the writes elsewhere.
#ifndef BRONTEL_FILES_FILE_RESULTS_H
#define BRONTEL_FILES_FILE_RESULTS_H

#define FILES_OK 0
// A Windows call failed; its error is given beside the result.
#define FILES_FAILED 1
// The file, or a folder on its path, is a link, or lies elsewhere than its path says.
#define FILES_LINK 2
// The file has more than one name: writing it would change the file of another name too.
#define FILES_HARD_LINK 3
// Users other than the trusted ones may add, remove or rename what the folder holds, or change
// its security.
#define FILES_OTHERS_WRITE 4
// The folder's security cannot be read (its error is given beside): nothing says who may
// change it.
#define FILES_SECURITY_UNKNOWN 5

#endif
