#include "consoleoutput.h"
#include "driver.h"
#include "platform.h"

#include <QApplication>

#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    selectPlatformWithoutDisplay(argc, argv);
    auto startFailureExit = std::make_unique<PlatformStartFailureExit>();
    QApplication app(argc, argv);
    startFailureExit.reset();
    connectReportOutput(argc, argv);

    // Qt has removed its own options from argv by now; the mode is read from what remains.
    DriverSettings settings;
    for (int i = 0; i < argc; ++i)
        settings.arguments.append(QString::fromLocal8Bit(argv[i]));
    return runUpdater(settings);
}
