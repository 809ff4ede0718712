// The tools of the machine run as themselves.
#include "toolrun.h"
#include "toolrun_p.h"

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    return toolrun::runProcess(program, arguments, timeoutMs);
}

bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes,
                  QByteArray *differences)
{
    const ToolRun run = runTool(QStringLiteral("diff"), toolrun::diffOptions(excludes) << a << b);
    if (differences)
        *differences = run.output + run.errors;
    return run.exitCode == 0;
}
