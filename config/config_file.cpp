// The options of a configuration file and their lookup.
#include "config/config_file.h"

#include "platform/textutil.h"

CConfigFile::CConfigFile(CLogger* logger)
    : logger(logger), first(nullptr), last(nullptr), optionCount(0) {}

CConfigFile::~CConfigFile() {
    OptionNode* node = first;
    while (node != nullptr) {
        OptionNode* next = node->next;
        delete node->option;
        delete node;
        node = next;
    }
}

CConfigOption* CConfigFile::getOption(const wchar_t* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (OptionNode* node = first; node != nullptr; node = node->next) {
        if (asciiEqualNoCase(node->option->getName(), name)) {
            return node->option;
        }
    }
    return nullptr;
}

CConfigOption* CConfigFile::getOptionAt(int index) {
    OptionNode* node = first;
    for (int i = 0; node != nullptr && i < index; ++i) {
        node = node->next;
    }
    return index >= 0 && node != nullptr ? node->option : nullptr;
}

wchar_t* CConfigFile::getStrOptionValue(const wchar_t* name, wchar_t* defaultValue) {
    CConfigOption* option = getOption(name);
    return option != nullptr ? option->getValue() : defaultValue;
}

int CConfigFile::getBoolOptionValue(const wchar_t* name, int defaultValue) {
    CConfigOption* option = getOption(name);
    if (option == nullptr) {
        return defaultValue;
    }
    if (asciiEqualNoCase(option->getValue(), L"TRUE")) {
        return 1;
    }
    if (asciiEqualNoCase(option->getValue(), L"FALSE")) {
        return 0;
    }
    logger->logMessage(name, L" has an unrecognized value, using default: ",
                       defaultValue ? L"TRUE" : L"FALSE");
    return defaultValue;
}
