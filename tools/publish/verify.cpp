#include "publisher.h"

#include "digest.h"
#include "listformat.h"
#include "manifest.h"
#include "updatenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

bool verifyPublishedFolder(const QString &folderPath, QTextCodec *codec, int expectedCount,
                           QString *error)
{
    const QDir folder(folderPath);
    QFile list(folder.absoluteFilePath(UpdateNames::md5List()));
    if (!list.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read back %1").arg(list.fileName());
        return false;
    }
    // Through the clients' code page: the local one may not express their names at all.
    const Manifest manifest = parseManifest(list.readAll(), codec);
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
