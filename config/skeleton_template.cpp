// The skeleton's text: a header, then each key's text from the key table in skeleton order.
#include "config/skeleton_template.h"

#include "config/build_stamp.h"
#include "settings/config_keys.h"

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char firstLinePrefix[] = "# Brontel Configuration file               (build ";
const char firstLineSuffix[] = ")";

// The lines between the first one and the keys, without line ends.
const char* const headerLines[] = {
    "# ",
    "# This file is read by brontel.exe, the Windows service adapter for Java,",
    "# when it installs a service (brontel -i <this file>). It holds every",
    "# setting of that one service.",
    "#",
    "# It was generated as a template: replace each $$...$$ placeholder with a",
    "# real value, and activate the optional lines you need, before installing.",
};

const char lineEnd[] = "\r\n";

// ---- The keys added since the skeleton's first text: after it, commented out, each with one
// line saying what it does, in the key table's order.
const char* const addedKeysHeader[] = {
    "# Keys added to brontel since the keys above. Each is optional: remove the #",
    "# before the key's line to use it.",
};

// A key's text, one line per newline.
void appendKeyText(std::vector<std::string>& lines, const char* text) {
    for (const char* end = strchr(text, '\n'); end != nullptr; end = strchr(text, '\n')) {
        lines.emplace_back(text, end);
        text = end + 1;
    }
}

void appendAddedKeys(std::vector<std::string>& lines) {
    lines.emplace_back();
    lines.insert(lines.end(), addedKeysHeader,
                 addedKeysHeader + sizeof(addedKeysHeader) / sizeof(addedKeysHeader[0]));
    for (int i = 0; i < configKeyCount; ++i) {
        if (configKeys[i].skeletonOrder == 0 && configKeys[i].skeleton != nullptr) {
            appendKeyText(lines, configKeys[i].skeleton);
        }
    }
}
// ---- end of the added keys

// The keys' lines in the skeleton's order, each key's text after an empty line.
std::vector<std::string> skeletonLines() {
    std::vector<std::string> lines(headerLines,
                                   headerLines + sizeof(headerLines) / sizeof(headerLines[0]));
    for (int place = 1;; ++place) {
        const ConfigKey* key = nullptr;
        for (int i = 0; i < configKeyCount && key == nullptr; ++i) {
            if (configKeys[i].skeletonOrder == place && configKeys[i].skeleton != nullptr) {
                key = &configKeys[i];
            }
        }
        if (key == nullptr) {
            appendAddedKeys(lines);
            return lines;
        }
        lines.emplace_back();
        appendKeyText(lines, key->skeleton);
    }
}

} // namespace

char* buildSkeletonText() {
    std::vector<std::string> lines = skeletonLines();
    size_t length = strlen(firstLinePrefix) + strlen(BRONTEL_BUILD_DATE) + strlen(firstLineSuffix) +
                    strlen(lineEnd);
    for (const std::string& line : lines) {
        length += line.size() + strlen(lineEnd);
    }
    char* text = static_cast<char*>(malloc(length + 1));
    if (text == nullptr) {
        return nullptr;
    }
    char* out = text;
    const char* firstLine[] = {firstLinePrefix, BRONTEL_BUILD_DATE, firstLineSuffix, lineEnd};
    for (const char* piece : firstLine) {
        size_t n = strlen(piece);
        memcpy(out, piece, n);
        out += n;
    }
    for (const std::string& line : lines) {
        size_t n = line.size();
        memcpy(out, line.data(), n);
        out += n;
        memcpy(out, lineEnd, strlen(lineEnd));
        out += strlen(lineEnd);
    }
    *out = '\0';
    return text;
}
