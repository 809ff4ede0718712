// The Windows build runs under Wine: the tools of the machine are Linux programs, started
// through Wine; only the Windows programs of the build run as processes of their own.
#include "toolrun.h"
#include "toolrun_p.h"
#include "winehost.h"

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    if (!program.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        ToolRun run;
        run.exitCode = WineHost::runTool(program, arguments, timeoutMs, &run.output);
        return run;
    }
    ToolRun run = toolrun::runProcess(program, arguments, timeoutMs);
    // A Windows console program ends its lines with CR LF.
    run.output.replace("\r\n", "\n");
    run.errors.replace("\r\n", "\n");
    return run;
}

// Under Wine, the Linux diff compares the folders through their Linux paths.
bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes,
                  QByteArray *differences)
{
    const QStringList arguments = toolrun::diffOptions(excludes)
                                  << WineHost::unixPath(a) << WineHost::unixPath(b);
    return WineHost::run(QStringLiteral("/usr/bin/diff"), arguments, 60000, differences) == 0;
}
