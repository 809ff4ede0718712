#include "manifest.h"

#include <QStringList>

bool operator==(const ManifestEntry &a, const ManifestEntry &b)
{
    return a.path == b.path && a.size == b.size && a.md5 == b.md5;
}

namespace {

// The size field stores the low 32 bits first; a field that is no hex number gives 0.
qint64 sizeFromField(const QByteArray &field)
{
    bool ok = false;
    const quint64 raw = field.toULongLong(&ok, 16);
    if (!ok)
        return 0;
    const quint64 swapped = (raw << 32) | (raw >> 32);
    return static_cast<qint64>(swapped);
}

// Splits one line (without its LF) into exactly three TAB fields; false otherwise.
bool splitLine(const QByteArray &line, QByteArray fields[3])
{
    const int first = line.indexOf('\t');
    if (first < 0)
        return false;
    const int second = line.indexOf('\t', first + 1);
    if (second < 0 || line.indexOf('\t', second + 1) >= 0)
        return false;
    fields[0] = line.left(first);
    fields[1] = line.mid(first + 1, second - first - 1);
    fields[2] = line.mid(second + 1);
    return true;
}

void addLine(QByteArray line, Manifest *manifest)
{
    if (line.endsWith('\r'))
        line.chop(1);
    QByteArray fields[3];
    if (!splitLine(line, fields))
        return;
    ManifestEntry entry;
    entry.md5 = fields[0];
    entry.size = sizeFromField(fields[1]);
    entry.path = normaliseManifestPath(QString::fromLocal8Bit(fields[2]));
    manifest->insert(entry.path, entry);
}

} // namespace

Manifest parseManifest(QByteArray text)
{
    Manifest manifest;
    int start = 0;
    while (start <= text.size()) {
        int end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        addLine(text.mid(start, end - start), &manifest);
        start = end + 1;
    }
    return manifest;
}

QString normaliseManifestPath(const QString &rawPath)
{
    QString path = rawPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return path;
}

bool isContainedRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return false;
    if (path.contains(QLatin1Char(':')))
        return false;
    bool namesSomething = false;
    QString slashed = path;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = slashed.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
        if (!part.isEmpty() && part != QLatin1String("."))
            namesSomething = true;
    }
    // "." or "./" would resolve to the folder itself, which is no file of the list.
    return namesSomething;
}
