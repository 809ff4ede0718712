#include "publishrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
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

ToolRun runPublish(const QStringList &arguments)
{
    return runTool(QStringLiteral(PUBLISH_TOOL_PATH), arguments);
}

bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes,
                  QByteArray *differences)
{
    QStringList arguments{QStringLiteral("-r")};
    for (const QString &pattern : excludes)
        arguments << QStringLiteral("-x") << pattern;
    arguments << a << b;
    const ToolRun run = runTool(QStringLiteral("diff"), arguments);
    if (differences)
        *differences = run.output + run.errors;
    return run.exitCode == 0;
}

bool putFile(const QString &root, const QString &relativePath, const QByteArray &bytes)
{
    const QString path = QDir(root).absoluteFilePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
