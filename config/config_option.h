// One name=value option of a configuration file.
#ifndef BRONTEL_CONFIG_CONFIG_OPTION_H
#define BRONTEL_CONFIG_CONFIG_OPTION_H

#include "trace/logger.h"

class CConfigOption {
  public:
    explicit CConfigOption(CLogger* logger);
    ~CConfigOption();
    CConfigOption(const CConfigOption&) = delete;
    CConfigOption& operator=(const CConfigOption&) = delete;

    void setName(const wchar_t* text);
    void setValue(const wchar_t* text);
    wchar_t* getName() const { return name; }
    wchar_t* getValue() const { return value; }

  private:
    // Handed in by the file that owns the option; nothing is reported through it yet.
    [[maybe_unused]] CLogger* logger;
    wchar_t* name;
    wchar_t* value;
};

#endif
