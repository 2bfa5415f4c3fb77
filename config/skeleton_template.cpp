#include "config/skeleton_template.h"

#include "config/build_stamp.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char firstLinePrefix[] = "# Brontel Configuration file               (build ";
const char firstLineSuffix[] = ")";

// The lines after the first one, without line ends.
const char* const templateLines[] = {
    "# ",
    "# This file is read by brontel.exe, the Windows service adapter for Java,",
    "# when it installs a service (brontel -i <this file>). It holds every",
    "# setting of that one service.",
    "#",
    "# It was generated as a template: replace each $$...$$ placeholder with a",
    "# real value, and activate the optional lines you need, before installing.",
    "",
    "# serviceDisplayName (required): the name under which the service is shown",
    "# in the Services control panel.",
    "serviceDisplayName=$$DISPLAYNAME$$",
    "",
    "# serviceName (required): the name by which Windows knows the service.",
    "# End users do not see it. Keep it simple, best without blanks and without",
    "# characters other than letters and digits.",
    "serviceName=$$SERVICENAME$$",
    "",
    "# ibrontelClass (required): the fully qualified name of the Java class that",
    "# implements the IBrontel interface.",
    "ibrontelClass=$$SERVICECLASSNAME$$",
    "",
    "# interactiveService (optional): TRUE lets the service interact with the desktop.",
    "# This key is optional: leave the line commented out to keep the default.",
    "# Read the Microsoft documentation on services before setting this key.",
    "# Interactive services come with restrictions, for example on the account",
    "# they may run under. Default: FALSE.",
    "#interactiveService=$$TRUE | FALSE$$",
    "",
    "# startType (optional): when the service is started.",
    "# SERVICE_AUTO_START: the service control manager starts the service",
    "#     automatically while the system starts up.",
    "# SERVICE_DEMAND_START: the service is started by hand, by a user or by",
    "#     a program.",
    "# SERVICE_DISABLED: the service cannot be started.",
    "# Default: SERVICE_DEMAND_START.",
    "# Put one of the three values in place of the placeholder.",
    "#startType=$$SERVICE_AUTO_START | SERVICE_DEMAND_START | SERVICE_DISABLED$$",
    "",
    "# errorControl (optional): what the system start-up does when the service",
    "# fails to start. Default: SERVICE_ERROR_NORMAL.",
    "# SERVICE_ERROR_IGNORE: the failure is logged and start-up goes on.",
    "# SERVICE_ERROR_NORMAL: the failure is logged, a message box is shown and",
    "#     start-up goes on.",
    "# SERVICE_ERROR_SEVERE: the failure is logged. If the last known good",
    "#     configuration is being started, start-up goes on; otherwise the",
    "#     system restarts with the last known good configuration.",
    "# SERVICE_ERROR_CRITICAL: the failure is logged if possible. If the last",
    "#     known good configuration is being started, start-up fails;",
    "#     otherwise the system restarts with the last known good",
    "#     configuration.",
    "# Put one of the four values in place of the placeholder, or leave the",
    "# line as it is to keep the default.",
    ("#errorControl=$$SERVICE_ERROR_IGNORE | SERVICE_ERROR_NORMAL | SERVICE_ERROR_SEVERE | "
     "SERVICE_ERROR_CRITICAL$$"),
    "",
    "# binaryPath (optional): the full path of brontel.exe, which runs the service.",
    "# This key is optional: leave the line commented out to keep the default.",
    "# Read the Microsoft documentation on services before setting this key.",
    "# Default: the binary that is run when installing the service, that is the",
    "# brontel.exe that carries out the installation.",
    "#binaryPath=$$BINARYPATH$$",
    "",
    "# serviceDependencies (optional): the services that must have started",
    "# before this one starts.",
    "# Give their service names, not their display names, as a list separated",
    "# by commas, with no blanks between the names and the commas, for example:",
    "#     Tcpip,EventLog",
    "# Default: no dependencies.",
    "#serviceDependencies=$$DEPENDENCIES$$",
    "",
    "# description (optional): a short text about the service, shown in the",
    "# Description column of the Services control panel.",
    "# Everything after the = sign belongs to the text, a # character too.",
    "# Keep it on one line.",
    "# Default: no description.",
    "#description=$$DESCRIPTION$$",
    "",
    "# jvmDLL (optional): the full path of the JVM library to load, for example",
    "#     %ProgramFiles%\\Java\\jdk-17\\bin\\server\\jvm.dll",
    "# A path that is not absolute is refused: the current directory and PATH",
    "# are never searched, since others may be able to write there.",
    "# Default: jvm.dll beside brontel.exe, else an installed Java runtime's.",
    "#jvmDLL=$$DLL$$",
    "",
    "# jvmOption1 ... jvmOptionN (optional): the options passed to the JVM, one",
    "# option per key. Number them from 1 without gaps: reading stops at the",
    "# first missing number. Add further jvmOptionN lines as needed.",
    "# Default: no options.",
    "# For example:",
    "#jvmOption1=-Djava.class.path=%ProgramFiles%\\MyService\\classes",
    "#jvmOption2=-Djava.compiler=NONE",
    "# On the class path: only folders administrators alone can write, never \".\".",
    "#jvmOption1=$$OPTION1$$",
    "#jvmOption2=$$OPTION2$$",
    "",
    "# commandLineParms (optional): the parameters passed to the serviceMain",
    "# method of the service class.",
    "# Default: no parameters.",
    "#commandLineParms=$$COMMAND_LINE$$",
    "",
    "# verboseOutput (optional): the file that receives the JVM's verbose",
    "# output, for example when the JVM option -verbose:class is given.",
    "# The file is appended to.",
    "# Default: no file.",
    "#verboseOutput=$$FILENAME$$",
    "",
    "# preinitCommand (optional): a command that is run before the JVM is",
    "# initialized.",
    "# A batch file must be run by its command interpreter, for example:",
    "#     cmd.exe /c \"%ProgramFiles%\\MyService\\prepare.bat\"",
    "# Give preinitWaitHint as well when the command takes a while.",
    "# Default: no command.",
    "#preinitCommand=$$COMMAND$$",
    "",
    "# preinitWaitHint (optional): the wait hint, in milliseconds, that the",
    "# service reports to Windows while the preinitCommand runs.",
    "# Set it to a little more than the time the command needs, so that",
    "# Windows does not give up on the starting service too early.",
    "# Default: 2000.",
    "#preinitWaitHint=$$HINTMILLISECONDS$$",
};

const char lineEnd[] = "\r\n";

} // namespace

char* buildSkeletonText() {
    size_t count = sizeof(templateLines) / sizeof(templateLines[0]);
    size_t length = strlen(firstLinePrefix) + strlen(BRONTEL_BUILD_DATE) + strlen(firstLineSuffix) +
                    strlen(lineEnd);
    for (size_t i = 0; i < count; ++i) {
        length += strlen(templateLines[i]) + strlen(lineEnd);
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
    for (size_t i = 0; i < count; ++i) {
        size_t n = strlen(templateLines[i]);
        memcpy(out, templateLines[i], n);
        out += n;
        memcpy(out, lineEnd, strlen(lineEnd));
        out += strlen(lineEnd);
    }
    *out = '\0';
    return text;
}
