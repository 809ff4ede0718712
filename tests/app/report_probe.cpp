// Prints one console report, then stays alive until its standard input closes.
#include "consolereport.h"

#include <cstdio>

int main()
{
    printConsoleReport(true, false, QString());
    while (std::getchar() != EOF) {
    }
    return 0;
}
