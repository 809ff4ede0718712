#include "serverrelease.h"

#include "testfiles.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QtEndian>

namespace {

QByteArray sizeField(qint64 size)
{
    const auto low = quint32(quint64(size) & 0xffffffffu);
    const auto high = quint32(quint64(size) >> 32);
    return QByteArray::number(low, 16).rightJustified(8, '0') +
           QByteArray::number(high, 16).rightJustified(8, '0');
}

} // namespace

namespace ServerRelease {

// Each of the four words as 8 hex digits.
QByteArray digestText(const QByteArray &content)
{
    const QByteArray raw = QCryptographicHash::hash(content, QCryptographicHash::Md5);
    QByteArray text;
    for (int word = 0; word < 4; ++word) {
        const quint32 value = qFromLittleEndian<quint32>(raw.constData() + 4 * word);
        text += QByteArray::number(value, 16).rightJustified(8, '0');
    }
    return text;
}

QByteArray writeVersion(const QString &root, const QString &folder,
                        const QMap<QString, QByteArray> &files)
{
    QByteArray list;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        writeFile(root + '/' + folder + '/' + it.key(), it.value());
        QString path = it.key();
        path.replace('/', '\\');
        list += digestText(it.value()) + '\t' + sizeField(it.value().size()) + '\t' +
                path.toLocal8Bit() + "\r\n";
    }
    writeFile(root + '/' + folder + "/md5.txt", list);
    return list;
}

void writeDescription(const QString &root, int updateType, const QString &folder,
                      const QString &version)
{
    const QByteArray text = "[Summary]\nUpdateType=" + QByteArray::number(updateType) +
                            "\n[Version]\nFolder=" + folder.toUtf8() +
                            "\nVersion=" + version.toUtf8() + "\n";
    writeFile(root + "/update.ini", text);
}

void install(const QString &dir, const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeFile(dir + '/' + it.key(), it.value());
}

bool installed(const QString &dir, const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!QFileInfo::exists(dir + '/' + it.key()) ||
            readFile(dir + '/' + it.key()) != it.value())
            return false;
    }
    return true;
}

} // namespace ServerRelease
