#include "manifest.h"

#include <QTextCodec>

#include <algorithm>

bool operator==(const ManifestEntry &a, const ManifestEntry &b)
{
    return a.path == b.path && a.size == b.size && a.md5 == b.md5;
}

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The size field stores the low 32 bits first; a field that is no hex number gives 0.
qint64 sizeFromField(const char *field, int length)
{
    quint64 raw = 0;
    bool plainDigits = length > 0 && length <= 16;
    for (int i = 0; plainDigits && i < length; ++i) {
        const int digit = hexDigitValue(field[i]);
        plainDigits = digit >= 0;
        raw = (raw << 4) | quint64(digit);
    }
    if (!plainDigits) {
        // Anything unusual goes through Qt's reading, which decides what still counts.
        bool ok = false;
        raw = QByteArray(field, length).toULongLong(&ok, 16);
        if (!ok)
            return 0;
    }
    return qint64((raw << 32) | (raw >> 32));
}

// One line without its LF; anything but exactly three TAB fields is skipped.
void addLine(const char *line, int length, QTextCodec *pathCodec, Manifest *manifest)
{
    if (length > 0 && line[length - 1] == '\r')
        --length;
    const char *end = line + length;
    const char *firstTab = std::find(line, end, '\t');
    const char *secondTab = firstTab == end ? end : std::find(firstTab + 1, end, '\t');
    if (secondTab == end || std::find(secondTab + 1, end, '\t') != end)
        return;
    ManifestEntry entry;
    entry.md5 = QByteArray(line, int(firstTab - line));
    entry.size = sizeFromField(firstTab + 1, int(secondTab - firstTab - 1));
    // Decoded like QString::fromLocal8Bit(QByteArray), which ends the text at a NUL byte.
    const char *pathStart = secondTab + 1;
    const int pathLength = int(qstrnlen(pathStart, uint(end - pathStart)));
    const QString rawPath = pathCodec ? pathCodec->toUnicode(pathStart, pathLength)
                                      : QString::fromLocal8Bit(pathStart, pathLength);
    entry.path = normaliseManifestPath(rawPath);
    // Lists are usually written in path order: the end hint then saves the search, and
    // QMap falls back to an ordinary insert (replacing an equal key) when it does not fit.
    manifest->insert(manifest->constEnd(), entry.path, entry);
}

} // namespace

Manifest parseManifest(QByteArray text)
{
    return parseManifest(text, nullptr);
}

Manifest parseManifest(QByteArray text, QTextCodec *pathCodec)
{
    Manifest manifest;
    const char *data = text.constData();
    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        addLine(data + start, end - start, pathCodec, &manifest);
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
