#include "toolrun.h"
#include "toolrun_p.h"

#include <QProcess>

ToolRun toolrun::runProcess(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ToolRun run;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput();
    run.errors = process.readAllStandardError();
    return run;
}

QStringList toolrun::diffOptions(const QStringList &excludes)
{
    QStringList options{QStringLiteral("-r")};
    for (const QString &pattern : excludes)
        options << QStringLiteral("-x") << pattern;
    return options;
}

QByteArray sha256sum(const QString &path)
{
    const ToolRun run = runTool(QStringLiteral("sha256sum"), {path});
    return run.exitCode == 0 ? run.output.left(64) : QByteArray();
}
