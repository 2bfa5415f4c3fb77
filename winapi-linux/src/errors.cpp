// Thread-local last error, errno mapping, and the system message texts.
#include "kobject.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
thread_local DWORD lastError = 0;

struct MessageText {
    DWORD code;
    const wchar_t* text;
};

// The texts end in CR LF, as the system's do.
const MessageText messages[] = {
    {ERROR_SUCCESS, L"The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, L"Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, L"The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, L"The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, L"Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, L"The handle is invalid.\r\n"},
    {ERROR_NOT_SAME_DEVICE, L"The system cannot move the file to a different disk drive.\r\n"},
    {ERROR_GEN_FAILURE, L"A device attached to the system is not functioning.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     L"Not enough memory resources are available to process this command.\r\n"},
    {ERROR_BAD_FORMAT, L"An attempt was made to load a program with an incorrect format.\r\n"},
    {ERROR_INVALID_DATA, L"The data is invalid.\r\n"},
    {ERROR_OUTOFMEMORY,
     L"Not enough memory resources are available to complete this operation.\r\n"},
    {ERROR_WRITE_PROTECT, L"The media is write protected.\r\n"},
    {ERROR_SHARING_VIOLATION,
     L"The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_LOCK_VIOLATION, L"The process cannot access the file because another process has "
                           L"locked a portion of the file.\r\n"},
    {ERROR_HANDLE_EOF, L"Reached the end of the file.\r\n"},
    {ERROR_NOT_SUPPORTED, L"The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, L"The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, L"The parameter is incorrect.\r\n"},
    {ERROR_BROKEN_PIPE, L"The pipe has been ended.\r\n"},
    {ERROR_BUFFER_OVERFLOW, L"The file name is too long.\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION,
     L"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {ERROR_DISK_FULL, L"There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, L"The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_LEVEL, L"The system call level is not correct.\r\n"},
    {ERROR_INVALID_NAME, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_MOD_NOT_FOUND, L"The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, L"The specified procedure could not be found.\r\n"},
    {ERROR_ALREADY_EXISTS, L"Cannot create a file when that file already exists.\r\n"},
    {ERROR_DIRECTORY, L"The directory name is invalid.\r\n"},
    {ERROR_BAD_EXE_FORMAT, L"The specified program is not a valid application.\r\n"},
    {ERROR_ENVVAR_NOT_FOUND,
     L"The system could not find the environment option that was entered.\r\n"},
    {ERROR_BAD_PIPE, L"The pipe state is invalid.\r\n"},
    {ERROR_PIPE_BUSY, L"All pipe instances are busy.\r\n"},
    {ERROR_NO_DATA, L"The pipe is being closed.\r\n"},
    {ERROR_PIPE_NOT_CONNECTED, L"No process is on the other end of the pipe.\r\n"},
    {ERROR_MORE_DATA, L"More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, L"No more data is available.\r\n"},
    {ERROR_PIPE_CONNECTED, L"There is a process on other end of the pipe.\r\n"},
    {ERROR_PIPE_LISTENING, L"Waiting for a process to open the other end of the pipe.\r\n"},
    {ERROR_OPERATION_ABORTED, L"The I/O operation has been aborted because of either a thread exit "
                              L"or an application request.\r\n"},
    {ERROR_IO_INCOMPLETE, L"Overlapped I/O event is not in a signaled state.\r\n"},
    {ERROR_IO_PENDING, L"Overlapped I/O operation is in progress.\r\n"},
    {ERROR_NOACCESS, L"Invalid access to memory location.\r\n"},
    {ERROR_CANTOPEN, L"The configuration registry key could not be opened.\r\n"},
    {ERROR_CANTREAD, L"The configuration registry key could not be read.\r\n"},
    {ERROR_CANTWRITE, L"The configuration registry key could not be written.\r\n"},
    {ERROR_REGISTRY_CORRUPT,
     L"The structure of one of the files containing registry data is corrupted.\r\n"},
    {ERROR_REGISTRY_IO_FAILED,
     L"An I/O operation initiated by the registry failed unrecoverably.\r\n"},
    {ERROR_KEY_DELETED,
     L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {ERROR_DEPENDENT_SERVICES_RUNNING, L"A stop control has been sent to a service that other "
                                       L"running services are dependent on.\r\n"},
    {ERROR_INVALID_SERVICE_CONTROL, L"The requested control is not valid for this service.\r\n"},
    {ERROR_SERVICE_REQUEST_TIMEOUT,
     L"The service did not respond to the start or control request in a timely fashion.\r\n"},
    {ERROR_SERVICE_NO_THREAD, L"A thread could not be created for the service.\r\n"},
    {ERROR_SERVICE_DATABASE_LOCKED, L"The service database is locked.\r\n"},
    {ERROR_SERVICE_ALREADY_RUNNING, L"An instance of the service is already running.\r\n"},
    {ERROR_INVALID_SERVICE_ACCOUNT, L"The account name is invalid or does not exist, or the "
                                    L"password is invalid for the account name specified.\r\n"},
    {ERROR_SERVICE_DISABLED, L"The service cannot be started, either because it is disabled or "
                             L"because it has no enabled devices associated with it.\r\n"},
    {ERROR_SERVICE_DOES_NOT_EXIST,
     L"The specified service does not exist as an installed service.\r\n"},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
     L"The service cannot accept control messages at this time.\r\n"},
    {ERROR_SERVICE_NOT_ACTIVE, L"The service has not been started.\r\n"},
    {ERROR_SERVICE_LOGON_FAILED, L"The service did not start due to a logon failure.\r\n"},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
     L"The service process could not connect to the service controller.\r\n"},
    {ERROR_DATABASE_DOES_NOT_EXIST, L"The database specified does not exist.\r\n"},
    {ERROR_EXCEPTION_IN_SERVICE,
     L"An exception occurred in the service when handling the control request.\r\n"},
    {ERROR_SERVICE_SPECIFIC_ERROR, L"The service has returned a service-specific error code.\r\n"},
    {ERROR_PROCESS_ABORTED, L"The process terminated unexpectedly.\r\n"},
    {ERROR_SERVICE_MARKED_FOR_DELETE, L"The specified service has been marked for deletion.\r\n"},
    {ERROR_SERVICE_EXISTS, L"The specified service already exists.\r\n"},
    {ERROR_SERVICE_NEVER_STARTED, L"The service has not been started since the last boot.\r\n"},
    {ERROR_DUPLICATE_SERVICE_NAME,
     L"The name is already in use as either a service name or a service display name.\r\n"},
    {ERROR_SHUTDOWN_IN_PROGRESS, L"A system shutdown is in progress.\r\n"},
    {ERROR_NO_SUCH_PRIVILEGE, L"A specified privilege does not exist.\r\n"},
    {ERROR_PRIVILEGE_NOT_HELD, L"A required privilege is not held by the client.\r\n"},
    {ERROR_NONE_MAPPED, L"No mapping between account names and security IDs was done.\r\n"},
    {ERROR_INVALID_SID, L"The security ID structure is invalid.\r\n"},
    {ERROR_TIMEOUT, L"This operation returned because the timeout period expired.\r\n"},
    {RPC_S_SERVER_UNAVAILABLE, L"The RPC server is unavailable.\r\n"},
    {(DWORD)STATUS_ACCESS_DENIED, L"{Access Denied}\r\nA process has requested access to an "
                                  L"object, but has not been granted those access rights.\r\n"},
};
} // namespace

extern "C" DWORD WINAPI GetLastError(void) {
    return lastError;
}
extern "C" void WINAPI SetLastError(DWORD code) {
    lastError = code;
}

namespace standin {
DWORD errorFromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENAMETOOLONG:
        return ERROR_INVALID_NAME;
    case EPIPE:
        return ERROR_NO_DATA;
    case EINVAL:
    default:
        return ERROR_INVALID_PARAMETER;
    }
}
} // namespace standin

extern "C" DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId,
                                       DWORD languageId, LPWSTR buffer, DWORD size,
                                       va_list* arguments) {
    (void)source, (void)languageId, (void)arguments;
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const wchar_t* text = nullptr;
    for (const MessageText& entry : messages) {
        if (entry.code == messageId) {
            text = entry.text;
            break;
        }
    }
    if (text == nullptr) {
        // Windows has no text for this number (ERROR_MR_MID_NOT_FOUND).
        SetLastError(317);
        return 0;
    }
    size_t length = wcslen(text);
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* copy = static_cast<wchar_t*>(LocalAlloc(LPTR, (length + 1) * sizeof(wchar_t)));
        if (copy == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        wmemcpy(copy, text, length + 1);
        *reinterpret_cast<wchar_t**>(buffer) = copy;
        return static_cast<DWORD>(length);
    }
    if (buffer == nullptr || size <= length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wmemcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    void* memory =
        (flags & LMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL mem) {
    free(mem);
    return nullptr;
}
