#include "install/config_check.h"

#include "registry/service_strings.h"
#include "settings/value_check.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

namespace {

wchar_t lowerAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Edits (insert, delete, replace, swap of neighbours) from one name to the other, ASCII case
// ignored.
size_t editDistance(const std::wstring& a, const std::wstring& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = lowerAscii(a[i - 1]) == lowerAscii(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lowerAscii(a[i - 1]) == lowerAscii(b[j - 2]) &&
                lowerAscii(a[i - 2]) == lowerAscii(b[j - 1])) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

bool isPlaceholderChar(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L' ' ||
           c == L'|';
}

} // namespace

std::wstring closestConfigKey(const wchar_t* name) {
    std::wstring given = name != nullptr ? name : L"";
    // A numbered key keeps its number: compare the name without it.
    size_t digits = given.size();
    while (digits > 0 && given[digits - 1] >= L'0' && given[digits - 1] <= L'9') {
        --digits;
    }
    std::wstring best;
    size_t bestDistance = 0;
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& entry = configKeys[i];
        std::wstring candidate = entry.configName;
        std::wstring compared = given;
        if ((entry.flags & CONFIG_NUMBERED) != 0) {
            if (digits == given.size()) {
                continue;
            }
            compared = given.substr(0, digits);
        }
        size_t distance = editDistance(compared, candidate);
        // Close means a slip of the fingers, not another word: at most two edits, and fewer
        // than a third of the key.
        if (distance > 2 || distance * 3 >= candidate.size()) {
            continue;
        }
        if (best.empty() || distance < bestDistance) {
            best =
                (entry.flags & CONFIG_NUMBERED) != 0 ? candidate + given.substr(digits) : candidate;
            bestDistance = distance;
        }
    }
    return best;
}

void warnUnknownConfigKeys(CConfigFile* config, CLogger* logger) {
    for (int i = 0; i < config->getOptionCount(); ++i) {
        CConfigOption* option = config->getOptionAt(i);
        const wchar_t* name = option != nullptr ? option->getName() : nullptr;
        if (name == nullptr || findConfigKey(name) != nullptr) {
            continue;
        }
        std::wstring meant = closestConfigKey(name);
        if (meant.empty()) {
            logger->logMessage(L"Warning: unknown configuration key ", name, L" is ignored.");
        } else {
            std::wstring hint = L" is ignored; did you mean " + meant + L"?";
            logger->logMessage(L"Warning: unknown configuration key ", name, hint.c_str());
        }
    }
}

int refuseMalformedValues(CConfigFile* config, CLogger* logger) {
    int result = 0;
    for (int i = 0; i < configKeyCount; ++i) {
        const ConfigKey& key = configKeys[i];
        int numbered = (key.flags & CONFIG_NUMBERED) != 0;
        // Numbered values kept in the service key are one list value, of bounded length.
        int oneList = numbered && key.store == CONFIG_STORE_SERVICE;
        size_t listChars = 1;
        // A numbered key's values are checked as far as they are read: up to the first gap.
        for (int n = numbered ? 1 : 0;; ++n) {
            wchar_t name[64];
            swprintf(name, 64, numbered ? L"%ls%d" : L"%ls", key.configName, n);
            const wchar_t* value = config->getStrOptionValue(name, nullptr);
            if (value == nullptr) {
                break;
            }
            wchar_t problem[200];
            listChars += wcslen(value) + 1;
            int fits = !oneList || listChars <= serviceStringsChars;
            if (!fits) {
                swprintf(problem, 200,
                         L"with the values before it, it makes %zu characters, more than the "
                         L"%zu that Windows keeps for the %ls values together",
                         listChars, serviceStringsChars, key.configName);
            }
            if (fits && checkConfigValue(key, value, problem, 200)) {
                if (!numbered) {
                    break;
                }
                continue;
            }
            key.refusal->report(logger, name, value, problem);
            if (result == 0) {
                result = key.refusal->code;
            }
            if (key.refusal->firstOnly) {
                return result;
            }
            if (!numbered) {
                break;
            }
        }
    }
    return result;
}

std::wstring findSkeletonPlaceholder(const wchar_t* value) {
    if (value == nullptr) {
        return L"";
    }
    std::wstring text = value;
    size_t start = text.find(L"$$");
    while (start != std::wstring::npos) {
        size_t end = start + 2;
        while (end < text.size() && isPlaceholderChar(text[end])) {
            ++end;
        }
        if (end > start + 2 && text.compare(end, 2, L"$$") == 0) {
            return text.substr(start, end + 2 - start);
        }
        start = text.find(L"$$", start + 1);
    }
    return L"";
}

int refuseSkeletonPlaceholders(CConfigFile* config, CLogger* logger) {
    int result = 0;
    for (int i = 0; i < config->getOptionCount(); ++i) {
        CConfigOption* option = config->getOptionAt(i);
        if (option == nullptr) {
            continue;
        }
        std::wstring placeholder = findSkeletonPlaceholder(option->getValue());
        if (!placeholder.empty()) {
            std::wstring rest =
                L" still holds the skeleton's placeholder " + placeholder + L": fill in its value.";
            logger->logMessage(L"The configuration key ", option->getName(), rest.c_str());
            result = BRONTEL_RESULT_PLACEHOLDER;
        }
    }
    return result;
}
