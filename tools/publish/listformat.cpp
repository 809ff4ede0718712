#include "listformat.h"

#include <QTextCodec>

#include <cstdio>

QByteArray sizeField(qint64 size)
{
    const quint64 value = quint64(size);
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", unsigned(value & 0xffffffffu),
                  unsigned(value >> 32));
    return QByteArray(text, 16);
}

QByteArray listLine(const QByteArray &digest, qint64 size, const QByteArray &encodedPath)
{
    return digest + '\t' + sizeField(size) + '\t' + encodedPath + "\r\n";
}

QTextCodec *clientCodec(const QString &name)
{
    if (name.isEmpty())
        return QTextCodec::codecForLocale();
    return QTextCodec::codecForName(name.toLatin1());
}

bool encodeListPath(QTextCodec *codec, const QString &relativePath, QByteArray *encoded,
                    QString *error)
{
    if (relativePath.contains(QLatin1Char('\\'))) {
        *error = QStringLiteral("\"%1\": a backslash in a file name would read as a folder "
                                "separator on the clients")
                     .arg(relativePath);
        return false;
    }
    QString windowsPath = relativePath;
    windowsPath.replace(QLatin1Char('/'), QLatin1Char('\\'));
    // canEncode alone lets some codecs substitute silently; the round trip catches them.
    const QByteArray bytes = codec->fromUnicode(windowsPath);
    if (!codec->canEncode(windowsPath) || codec->toUnicode(bytes) != windowsPath) {
        *error = QStringLiteral("\"%1\" cannot be written in the code page %2; rename the file "
                                "or choose the clients' code page with --codepage")
                     .arg(relativePath, QString::fromLatin1(codec->name()));
        return false;
    }
    if (bytes.contains('\t') || bytes.contains('\n') || bytes.contains('\r')) {
        *error = QStringLiteral("\"%1\": TAB, CR and LF cannot appear in a listed path")
                     .arg(relativePath);
        return false;
    }
    *encoded = bytes;
    return true;
}
