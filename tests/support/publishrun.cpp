#include "publishrun.h"

#include "testinstall.h"

#include <QProcess>

ToolRun runPublish(const QStringList &arguments)
{
    const QString windows = TestInstall::windowsBuild();
    if (windows.isEmpty())
        return runTool(QStringLiteral(PUBLISH_TOOL_PATH), arguments);
    QProcess process;
    TestInstall::setUpProgram(
        &process, windows + QStringLiteral("/tools/publish/update-publish.exe"), arguments);
    ToolRun run = runTool(process.program(), process.arguments());
    run.output.replace("\r\n", "\n"); // a Windows console program's line ends
    run.errors.replace("\r\n", "\n");
    return run;
}
