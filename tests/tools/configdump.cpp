// Test tool: reads a configuration file with the program's own reader and prints what it found.
//   configdump [-w] FILE    prints "result N", then one "name=value" line per option, in order
// Exit codes:
//   0   read (what the reader made of the file, its failures too, is in the "result N" line)
//   64  bad arguments: "configdump: ..." and the usage
// It never exits with 1: a Windows build's run that ends with 1 and says nothing never ran it.
#include "config/config_file.h"

#include <stdio.h>
#include <wchar.h>

extern "C" int wmain(int argc, wchar_t** argv) {
    int unicode = 0;
    int first = 1;
    if (argc > 1 && wcscmp(argv[1], L"-w") == 0) {
        unicode = 1;
        first = 2;
    }
    if (argc != first + 1) {
        wprintf(L"configdump: one file name expected, %d arguments given\n"
                L"usage: configdump [-w] FILE\n",
                argc - first);
        return 64;
    }
    CLogger logger; // quiet: neither a trace file nor the console echo
    logger.enableLogFile(nullptr);
    CConfigFile config(&logger);
    int result = config.parseConfigFile(argv[first], unicode);
    wprintf(L"result %d\n", result);
    for (int i = 0; i < config.getOptionCount(); ++i) {
        CConfigOption* option = config.getOptionAt(i);
        wprintf(L"%ls=%ls\n", option->getName(), option->getValue());
    }
    return 0;
}
