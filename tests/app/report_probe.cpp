// Prints one console report, then stays alive until its standard input closes. On Windows
// it is a GUI-subsystem program with the updater's output hookup, as update.exe is.
#include "consoleoutput.h"
#include "consolereport.h"

#include <cstdio>

int main(int argc, char **argv)
{
    const char *modeArguments[] = {argv[0], "console", nullptr};
    connectReportOutput(argc > 0 ? 2 : 0, const_cast<char **>(modeArguments));
    printConsoleReport(true, false, QString());
    while (std::getchar() != EOF) {
    }
    return 0;
}
