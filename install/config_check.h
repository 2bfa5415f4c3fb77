// Checks of a configuration file before anything is installed from it: keys brontel does not
// know (warned about, the install goes on), values the skeleton's author never filled in and
// values the key table refuses.
#ifndef BRONTEL_INSTALL_CONFIG_CHECK_H
#define BRONTEL_INSTALL_CONFIG_CHECK_H

#include "config/config_file.h"

#include <string>

// One warning for each key of the file that the key table does not know, naming the known key
// it was probably meant to be when one is close.
void warnUnknownConfigKeys(CConfigFile* config, CLogger* logger);
// The known key closest to a misspelt one ("comandLineParms" gives "commandLineParms",
// "jvmOptoin2" gives "jvmOption2"); empty when none is close.
std::wstring closestConfigKey(const wchar_t* name);
// Each value that the key table's check refuses, reported in its key's wording: 0 when there is
// none, else the first refused key's code (5 or 34). A stop or recovery value ends the check.
int refuseMalformedValues(CConfigFile* config, CLogger* logger);
// One message for each value that still holds a skeleton placeholder; 0 when there is none,
// else BRONTEL_RESULT_PLACEHOLDER.
int refuseSkeletonPlaceholders(CConfigFile* config, CLogger* logger);
// The first $$NAME$$ placeholder in a value (the form the skeleton writes: capitals, digits,
// underscores, blanks and bars between two pairs of dollar signs); empty when there is none.
std::wstring findSkeletonPlaceholder(const wchar_t* value);

#endif
