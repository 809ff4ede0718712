#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QTextCodec;

// The line format the updater's parser reads: digest text, TAB, size field, TAB,
// the path with backslashes in the clients' 8-bit code page, CR LF.

// 16 hex digits: the low 32 bits first, then the high 32 bits, each as 8 lowercase digits.
QByteArray sizeField(qint64 size);

// One list line; `encodedPath` is already in the clients' code page.
QByteArray listLine(const QByteArray &digest, qint64 size, const QByteArray &encodedPath);

// Encodes a release-relative path (forward slashes) for the list. Fails, with a message
// naming the path, when the code page cannot represent it exactly or when the encoded
// bytes would break the line format.
bool encodeListPath(QTextCodec *codec, const QString &relativePath, QByteArray *encoded,
                    QString *error);

// The code page by name, or the local 8-bit encoding for an empty name; null if unknown.
QTextCodec *clientCodec(const QString &name);
