#include "packedrelease.h"

#include "serverrelease.h"
#include "testfiles.h"
#include "toolrun.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

namespace {

// The zstd command line on files of a temporary folder; its output, or empty.
QByteArray runZstd(const QByteArray &content, const QByteArray &base, bool withBase)
{
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("input"));
    const QString output = dir.filePath(QStringLiteral("output.zst"));
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("-19"), QStringLiteral("--long")};
    if (withBase) {
        const QString basePath = dir.filePath(QStringLiteral("base"));
        if (!writeFile(basePath, base))
            return QByteArray();
        arguments << QStringLiteral("--patch-from") << basePath;
    }
    arguments << input << QStringLiteral("-o") << output;
    if (!writeFile(input, content))
        return QByteArray();
    const ToolRun run = runTool(QStringLiteral("zstd"), arguments, 120000);
    if (run.exitCode != 0)
        qWarning("zstd: %s%s", run.output.constData(), run.errors.constData());
    return run.exitCode == 0 ? readFile(output) : QByteArray();
}

QByteArray listLine(const QString &versionDir, const QByteArray &kind, const QByteArray &base,
                    const QString &path, const QByteArray &packed)
{
    if (!writeFile(versionDir, PackedRelease::relativePath(packed), packed))
        qWarning("cannot write the packed copy of %s", qPrintable(path));
    QString listed = path;
    listed.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return kind + '\t' + base + '\t' + QByteArray::number(packed.size()) + '\t' +
           ServerRelease::digestText(packed) + '\t' + PackedRelease::sha256Hex(packed) + '\t' +
           listed.toLocal8Bit() + "\r\n";
}

} // namespace

namespace PackedRelease {

QByteArray compress(const QByteArray &content)
{
    return runZstd(content, QByteArray(), false);
}

QByteArray patch(const QByteArray &base, const QByteArray &content)
{
    return runZstd(content, base, true);
}

QString fileName(const QByteArray &packed)
{
    return QString::fromLatin1(sha256Hex(packed)) + QStringLiteral(".zst");
}

QString relativePath(const QByteArray &packed)
{
    return QStringLiteral(".~zstd/") + fileName(packed);
}

QByteArray serveCompressed(const QString &versionDir, const QString &path, const QByteArray &packed)
{
    return listLine(versionDir, "zstd", "-", path, packed);
}

QByteArray servePatch(const QString &versionDir, const QString &path, const QByteArray &packed,
                      const QByteArray &base)
{
    return listLine(versionDir, "patch", ServerRelease::digestText(base), path, packed);
}

QByteArray writeList(const QString &versionDir, const QByteArray &lines)
{
    writeFile(versionDir, QStringLiteral(".~zstd/list.txt"), lines);
    return lines;
}

bool nameInDescription(const QString &root, const QByteArray &list, const QString &name)
{
    const QByteArray description = readFile(root + QStringLiteral("/update.ini"));
    return writeFile(root, QStringLiteral("update.ini"),
                     description + "\n[Patches]\nList=" + name.toUtf8() +
                         "\nSha256=" + sha256Hex(list) + "\n");
}

QByteArray withReleaseKeys(QByteArray description, const QByteArray &list, const QString &name)
{
    const int section = description.indexOf("[Release]");
    const int lineEnd = section < 0 ? -1 : description.indexOf('\n', section);
    if (lineEnd < 0)
        return QByteArray();
    const QByteArray newline = description.at(lineEnd - 1) == '\r' ? "\r\n" : "\n";
    return description.insert(lineEnd + 1, "PatchList=" + name.toUtf8() + newline +
                                               "PatchListSha256=" + sha256Hex(list) + newline);
}

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace PackedRelease
