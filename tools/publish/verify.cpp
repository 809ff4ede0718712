#include "publisher.h"

#include "digest.h"
#include "manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

namespace {

// The parser decodes paths from the local 8-bit encoding, so a list written for another
// code page is read back through that code page first.
QByteArray asLocalText(const QByteArray &listBytes, QTextCodec *codec)
{
    if (codec == QTextCodec::codecForLocale())
        return listBytes;
    return codec->toUnicode(listBytes).toLocal8Bit();
}

} // namespace

bool verifyPublishedFolder(const QString &folderPath, QTextCodec *codec, int expectedCount,
                           QString *error)
{
    const QDir folder(folderPath);
    QFile list(folder.absoluteFilePath(QStringLiteral("md5.txt")));
    if (!list.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read back %1").arg(list.fileName());
        return false;
    }
    const Manifest manifest = parseManifest(asLocalText(list.readAll(), codec));
    if (manifest.size() != expectedCount) {
        *error = QStringLiteral("md5.txt reads back as %1 entries, expected %2")
                     .arg(manifest.size())
                     .arg(expectedCount);
        return false;
    }
    for (const ManifestEntry &entry : manifest) {
        const QString path = folder.absoluteFilePath(entry.path);
        if (QFileInfo(path).size() != entry.size || !fileMatchesDigest(path, entry.md5)) {
            *error =
                QStringLiteral("published \"%1\" does not match its md5.txt line").arg(entry.path);
            return false;
        }
    }
    return true;
}
