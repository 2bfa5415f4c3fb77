// Splitting a configuration text into lines and name=value options.
#include "config/config_file.h"

#include <new>

wchar_t* CConfigFile::parseLine(wchar_t** cursor) {
    wchar_t* line = *cursor;
    if (line == nullptr || *line == L'\0') {
        return nullptr;
    }
    wchar_t* p = line;
    // A carriage return ends the line's text; whatever follows it up to the line feed is dropped.
    while (*p != L'\0' && *p != L'\n') {
        if (*p == L'\r') {
            *p = L'\0';
        }
        ++p;
    }
    if (*p == L'\n') {
        *p++ = L'\0';
    }
    *cursor = p;
    return line;
}

wchar_t* CConfigFile::trimLeft(wchar_t* text) {
    while (*text == L' ' || *text == L'\t') {
        ++text;
    }
    return text;
}

wchar_t* CConfigFile::trimRight(wchar_t* text) {
    size_t length = wcslen(text);
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\t')) {
        text[--length] = L'\0';
    }
    return text;
}

wchar_t* CConfigFile::parseValue(wchar_t* line) {
    wchar_t* equals = wcschr(line, L'=');
    if (equals == nullptr) {
        return nullptr;
    }
    *equals = L'\0';
    wchar_t* value = trimRight(trimLeft(equals + 1));
    return *value != L'\0' ? value : nullptr;
}

int CConfigFile::parseBuffer(wchar_t* text) {
    logger->logEntry(L"CConfigFile::parseBuffer");
    int result = 0;
    wchar_t* cursor = text;
    wchar_t* line;
    while ((line = parseLine(&cursor)) != nullptr) {
        // Comments start in the first column only.
        if (line[0] == L'#') {
            continue;
        }
        wchar_t* start = trimLeft(line);
        if (*start == L'\0') {
            continue;
        }
        wchar_t* value = parseValue(start);
        if (value == nullptr) {
            logger->logMessage(start, L" has no value in configuration file. Operation failed.");
            result = BRONTEL_RESULT_BAD_VALUE;
            continue;
        }
        wchar_t* name = trimRight(start);
        CConfigOption* option = new (std::nothrow) CConfigOption(logger);
        OptionNode* node = new (std::nothrow) OptionNode;
        if (option != nullptr) {
            option->setName(name);
            option->setValue(value);
        }
        if (option == nullptr || node == nullptr || option->getName() == nullptr ||
            option->getValue() == nullptr) {
            // Stopping is better than an installation from a silently shortened file.
            delete option;
            delete node;
            logger->logMessage(L"Memory error.");
            result = BRONTEL_RESULT_OUT_OF_MEMORY;
            break;
        }
        logger->logMessage(name, L"=", value);
        node->option = option;
        node->next = nullptr;
        if (last != nullptr) {
            last->next = node;
        } else {
            first = node;
        }
        last = node;
        ++optionCount;
    }
    logger->logExit(L"CConfigFile::parseBuffer", result);
    return result;
}
