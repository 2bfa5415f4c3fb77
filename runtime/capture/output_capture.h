// Service mode's output capture: the process's standard output and error (the Windows standard
// handles and the C runtime's descriptors 1 and 2) go into pipes whose writer threads fill the
// configured files. A stream without a file keeps its handles; one path for both streams gives
// one pipe, so the file holds the lines in the order written.
#ifndef BRONTEL_RUNTIME_OUTPUT_CAPTURE_H
#define BRONTEL_RUNTIME_OUTPUT_CAPTURE_H

#include "runtime/capture/capture_settings.h"
#include "runtime/capture/capture_stream.h"
#include "settings/service_settings.h"

class COutputCapture {
  public:
    COutputCapture(CLogger* logger, CEventReporter* events);
    ~COutputCapture();
    COutputCapture(const COutputCapture&) = delete;
    COutputCapture& operator=(const COutputCapture&) = delete;

    // Takes the capture settings from the service's and redirects the configured streams.
    // Failures are traced and reported; the service runs on with the streams that could not be
    // captured unchanged. A capture folder that is refused (a link, or others may change it)
    // captures nothing and gives BRONTEL_RESULT_UNSAFE_CAPTURE_PATH: the service must not start;
    // otherwise 0.
    int start(const CServiceSettings& serviceSettings);
    // The same with settings at hand (paths already expanded).
    int start(const CaptureSettings& settings);
    // Puts the original handles back and waits, a bounded time, for the files to receive what
    // was written before.
    void stop();

    // How long stop waits for a writer whose pipe another process still holds open.
    static const DWORD finishMs = 5000;

  private:
    int redirect(int fd, CCaptureStream* stream);
    void restore(int fd);
    void notStarted(const wchar_t* what, DWORD error);

    CLogger* logger;
    CEventReporter* events;
    CCaptureStream* streams[2]; // standard output's, standard error's (null when shared)
    int redirected[3];          // descriptors 1 and 2: redirected into a pipe
    int savedFd[3];             // their earlier targets, -1 when they had none
    HANDLE savedStd[3];         // the standard handles before
};

#endif
