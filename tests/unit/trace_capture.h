// A logger whose trace file the test reads back: the messages it received, without the thread
// prefix, entry and exit lines left out.
#ifndef BRONTEL_TESTS_TRACE_CAPTURE_H
#define BRONTEL_TESTS_TRACE_CAPTURE_H

#include "test_support.h"
#include "trace/logger.h"

#include <string>
#include <vector>

class TraceCapture {
  public:
    explicit TraceCapture(const wchar_t* tag)
        : path(testsupport::makeScratchDir(tag) + L"/trace.log") {
        logger.enableLogFile(path.c_str());
    }
    CLogger* get() { return &logger; }

    // Every line of the trace file after its thread prefix, "\r" of system texts removed.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (std::string line : testsupport::splitLines(testsupport::readFileBytes(path))) {
            if (line.size() >= 9 && line[8] == ' ') {
                line = line.substr(9);
            } else if (line.empty()) {
                continue; // the line feed behind a system text's own CR LF
            }
            while (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.find(" Entry") == std::string::npos &&
                line.find(" Exit ") == std::string::npos) {
                out.push_back(line);
            }
        }
        return out;
    }

  private:
    std::wstring path;
    CLogger logger;
};

#endif
