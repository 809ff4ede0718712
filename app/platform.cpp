#include "platform.h"

#include "runmode.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The options that QApplication takes out of argv on a platform without a display, as
// "-name" or "--name": those of the first list take the next argument as their value.
const char *const optionsWithValue[] = {
    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowtitle",
    "qwindowicon",        "session",       "style",  "stylesheet"};
const char *const optionsAlone[] = {"reverse", "widgetcount", "testability", "qdevel"};
const char *const optionsWithJoinedValue[] = {"style=", "stylesheet=", "qmljsdebugger="};

// Returns how many arguments the Qt option at `arg` spans: 0 when it is none.
int qtOptionSpan(const char *arg)
{
    if (arg[0] != '-')
        return 0;
    const char *name = arg + (arg[1] == '-' ? 2 : 1);
    for (const char *option : optionsWithValue) {
        if (std::strcmp(name, option) == 0)
            return 2;
    }
    for (const char *option : optionsAlone) {
        if (std::strcmp(name, option) == 0)
            return 1;
    }
    for (const char *option : optionsWithJoinedValue) {
        if (std::strncmp(name, option, std::strlen(option)) == 0)
            return 1;
    }
    return 0;
}

bool choosesOwnPlatform(const char *arg)
{
    const char *name = arg + (arg[0] == '-' && arg[1] == '-' ? 1 : 0);
    return std::strcmp(name, "-platform") == 0 || std::strcmp(name, "-display") == 0;
}

// The run mode needs no window: the first argument that Qt leaves is console or restart.
bool modeNeedsNoWindow(int argc, char **argv)
{
    int i = 1;
    while (i < argc && qtOptionSpan(argv[i]) > 0)
        i += qtOptionSpan(argv[i]);
    if (i >= argc)
        return false;
    return runModeOf(QString::fromLocal8Bit(argv[i])) != RunMode::Windowed;
}

QtMessageHandler previousHandler = nullptr;

void exitOnFatal(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    previousHandler(type, context, message);
    if (type == QtFatalMsg) {
        std::fflush(stderr);
        std::_Exit(1);
    }
}

} // namespace

void selectPlatformWithoutDisplay(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i) {
        if (choosesOwnPlatform(argv[i]))
            return;
    }
    if (modeNeedsNoWindow(argc, argv))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

PlatformStartFailureExit::PlatformStartFailureExit()
{
    previousHandler = qInstallMessageHandler(exitOnFatal);
}

PlatformStartFailureExit::~PlatformStartFailureExit()
{
    qInstallMessageHandler(previousHandler);
}
