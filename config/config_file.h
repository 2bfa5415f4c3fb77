// A parsed configuration file (name=value lines), the skeleton writer (-c) and the
// installed-service report (-d, -e).
#ifndef BRONTEL_CONFIG_CONFIG_FILE_H
#define BRONTEL_CONFIG_CONFIG_FILE_H

#include "config/config_option.h"
#include "platform/result_codes.h"

class CConfigFile {
  public:
    explicit CConfigFile(CLogger* logger);
    ~CConfigFile();
    CConfigFile(const CConfigFile&) = delete;
    CConfigFile& operator=(const CConfigFile&) = delete;

    // 0, BRONTEL_RESULT_NO_CONFIG_FILE_NAME, BRONTEL_RESULT_CONFIG_NOT_READ (cannot open, size or
    // read), BRONTEL_RESULT_BAD_VALUE (a line without a value).
    int parseConfigFile(const wchar_t* fileName, int unicode);
    int parseFile(HANDLE file, int unicode);
    // Parses a whole text in place (writes terminators into it); 0 or BRONTEL_RESULT_BAD_VALUE.
    int parseBuffer(wchar_t* text);
    wchar_t* parseLine(wchar_t** cursor);
    wchar_t* trimLeft(wchar_t* text);
    wchar_t* trimRight(wchar_t* text);
    wchar_t* parseValue(wchar_t* line);

    CConfigOption* getOption(const wchar_t* name);
    wchar_t* getStrOptionValue(const wchar_t* name, wchar_t* defaultValue);
    int getBoolOptionValue(const wchar_t* name, int defaultValue);
    int getOptionCount() const { return optionCount; }
    // The option at `index` in file order (0 first), or null.
    CConfigOption* getOptionAt(int index);

    // -c: 0, or BRONTEL_RESULT_NO_CONFIG_FILE_NAME, BRONTEL_RESULT_FILE_NOT_WRITTEN (the file
    // exists, or cannot be created or written), BRONTEL_RESULT_OUT_OF_MEMORY.
    int generateSkeletonFile(const wchar_t* fileName, int unicode);

    // -d (configFileName null) and -e: 0, or BRONTEL_RESULT_OUT_OF_MEMORY, or
    // BRONTEL_RESULT_FILE_NOT_WRITTEN (-e: the file exists, or cannot be created or written).
    static int showServiceInfo(const wchar_t* serviceName, const wchar_t* configFileName,
                               CLogger* logger, int unicode);

  private:
    struct OptionNode {
        CConfigOption* option;
        OptionNode* next;
    };
    CLogger* logger;
    OptionNode* first;
    OptionNode* last;
    int optionCount;
};

// Appends text to a growing heap buffer (capacity in characters, grows by 1000); returns the
// buffer to use from then on. Start with null and 0; free() the final buffer. When memory runs
// out the buffer is released, the capacity set to 0 and null returned.
wchar_t* appendText(wchar_t* buffer, unsigned long* capacity, const wchar_t* text);

#endif
