#include "toolrun.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include "winehost.h"
#endif

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ToolRun run;
#ifdef Q_OS_WIN
    if (!program.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        run.exitCode = WineHost::runTool(program, arguments, timeoutMs, &run.output);
        return run;
    }
#endif
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
#ifdef Q_OS_WIN
    // A Windows console program ends its lines with CR LF.
    run.output.replace("\r\n", "\n");
    run.errors.replace("\r\n", "\n");
#endif
    return run;
}

bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes,
                  QByteArray *differences)
{
    QStringList arguments{QStringLiteral("-r")};
    for (const QString &pattern : excludes)
        arguments << QStringLiteral("-x") << pattern;
#ifdef Q_OS_WIN
    // Under Wine, the Linux diff compares the folders through their Linux paths.
    arguments << WineHost::unixPath(a) << WineHost::unixPath(b);
    const int code = WineHost::run(QStringLiteral("/usr/bin/diff"), arguments, 60000, differences);
    return code == 0;
#else
    arguments << a << b;
    const ToolRun run = runTool(QStringLiteral("diff"), arguments);
    if (differences)
        *differences = run.output + run.errors;
    return run.exitCode == 0;
#endif
}

QByteArray sha256sum(const QString &path)
{
    const ToolRun run = runTool(QStringLiteral("sha256sum"), {path});
    return run.exitCode == 0 ? run.output.left(64) : QByteArray();
}
