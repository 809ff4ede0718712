#include "platform.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

void selectPlatformWithoutDisplay(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return;
    }
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}
