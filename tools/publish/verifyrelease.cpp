// --verify: a published tree checked the way a client with a configured key checks it.
#include "signingtool.h"

#include "digest.h"
#include "listformat.h"
#include "manifest.h"
#include "packedcopies.h"
#include "pathrules.h"
#include "publishfiles.h"
#include "releaseverifier.h"
#include "trustmessages.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int MaximumFileProblems = 50;

QString clientSays(const QString &message)
{
    return QStringLiteral(" (clients report: %1)").arg(message);
}

// What a client's worker says of a list path it refuses.
QString clientRefuses(const QString &path)
{
    return clientSays(
        QCoreApplication::translate("CDownloadThread", "更新文件%1路径不合法").arg(path));
}

// The description as a client checks it; `release` holds its [Release] section when it passes.
void checkDescription(const QString &root, const ReleaseVerifier &verifier,
                      VerifiedRelease *release, VerifyReport *report)
{
    const QDir dir(root);
    const QByteArray description = readAll(dir.absoluteFilePath(UpdateNames::description()));
    const QString sigPath = dir.absoluteFilePath(UpdateNames::signature());
    QString error;
    if (!QFileInfo::exists(sigPath))
        report->problems << QStringLiteral("update.ini.sig is missing");
    else if (!verifier.checkSignature(description, readAll(sigPath), &error))
        report->problems << QStringLiteral("update.ini.sig does not verify update.ini with the "
                                           "given key") +
                                clientSays(error);
    else
        report->facts << QStringLiteral("signature verified");
    if (!ReleaseVerifier::checkRelease(description, QString(), SequenceRecord(), release, &error)) {
        report->problems << QStringLiteral("[Release] of update.ini is not acceptable") +
                                clientSays(error);
        return;
    }
    const ReleaseSection section = release->section();
    report->facts << QStringLiteral("Sequence %1").arg(section.sequence)
                  << (section.hasExpiry() ? QStringLiteral("expires %1").arg(section.expiresText)
                                          : QStringLiteral("no expiry"));
}

void checkLists(const QDir &folder, const QByteArray &md5Bytes, const QByteArray &shaBytes,
                const VerifiedRelease &release, VerifyReport *report)
{
    const QString md5Path = folder.absoluteFilePath(UpdateNames::md5List());
    const QString shaPath = folder.absoluteFilePath(UpdateNames::sha256List());
    QString error;
    if (!release.checkMd5List(md5Bytes, &error))
        report->problems << QStringLiteral("%1 does not match Md5List of update.ini").arg(md5Path) +
                                clientSays(error);
    VerifiedRelease withFiles;
    if (!QFileInfo::exists(shaPath))
        report->problems << QStringLiteral("%1 is missing").arg(shaPath);
    else if (!release.withSha256List(shaBytes, &withFiles, &error))
        report->problems
            << QStringLiteral("%1 does not match Sha256List of update.ini").arg(shaPath) +
                   clientSays(error);
}

// False, with the problem (its %1 the file's path), when the published file is not what
// the lists say.
bool checkFile(const QDir &folder, const ManifestEntry &entry, const Sha256List &sha256,
               QString *problem)
{
    const QString path = folder.absoluteFilePath(entry.path);
    const QString name = QFileInfo(entry.path).fileName();
    if (!isContainedRelativePath(entry.path))
        *problem = QStringLiteral("md5.txt lists \"%1\", which leaves the installation folder");
    else if (isReservedPath(entry.path))
        *problem = QStringLiteral("md5.txt lists \"%1\", a name of the updater's own files") +
                   clientRefuses(entry.path);
    else if (!QFileInfo(path).isFile())
        *problem = QStringLiteral("%1 is missing");
    else if (QFileInfo(path).size() != entry.size)
        *problem = QStringLiteral("%1 differs in size from its md5.txt line");
    else if (!fileMatchesDigest(path, entry.md5))
        *problem = QStringLiteral("%1 differs from its MD5 in md5.txt");
    else if (!sha256.contains(entry.path))
        *problem = QStringLiteral("%1 is not listed in sha256.txt") +
                   clientSays(TrustMessages::fileNotInSha256List(name));
    else if (QByteArray hex;
             !fileSha256Hex(path, &hex) || hex != sha256.value(entry.path).toLower())
        *problem = QStringLiteral("%1 differs from its SHA-256 in sha256.txt") +
                   clientSays(TrustMessages::fileSha256Mismatch(name));
    else
        return true;
    return false;
}

void checkFiles(const QDir &folder, const Manifest &manifest, const Sha256List &sha256,
                VerifyReport *report)
{
    int problems = 0;
    for (const ManifestEntry &entry : manifest) {
        QString problem;
        if (!checkFile(folder, entry, sha256, &problem) && ++problems <= MaximumFileProblems)
            report->problems << problem.arg(folder.absoluteFilePath(entry.path));
    }
    for (auto it = sha256.constBegin(); it != sha256.constEnd(); ++it) {
        if (!manifest.contains(it.key()) && ++problems <= MaximumFileProblems)
            report->problems
                << QStringLiteral("sha256.txt lists \"%1\", md5.txt does not").arg(it.key());
    }
    // The clients run on Windows, where letter case is ignored.
    const QString oldCopy = findOldCopyOfListedPath(manifest.keys(), true);
    if (!oldCopy.isEmpty() && ++problems <= MaximumFileProblems)
        report->problems << QStringLiteral("md5.txt lists \"%1\", where the clients keep the "
                                           "previous version of another listed file")
                                    .arg(oldCopy) +
                                clientRefuses(oldCopy);
    if (problems > MaximumFileProblems)
        report->problems << QStringLiteral("... and %1 more").arg(problems - MaximumFileProblems);
    if (manifest.isEmpty())
        report->problems << QStringLiteral("md5.txt lists no file");
    report->facts << QStringLiteral("%1 files checked (size, MD5, SHA-256)").arg(manifest.size());
}

} // namespace

VerifyReport verifyPublishedRelease(const QString &root, const QList<PublicKey> &keys,
                                    QTextCodec *codec)
{
    VerifyReport report;
    const QString iniPath = QDir(root).absoluteFilePath(UpdateNames::description());
    if (!QFileInfo(iniPath).isFile()) {
        report.problems << QStringLiteral("%1 is missing").arg(iniPath);
        return report;
    }
    ReleaseVerifier verifier;
    verifier.setPublicKeys(keys);
    VerifiedRelease release;
    checkDescription(root, verifier, &release, &report);
    // The folder as the clients form its address: the value exactly as written.
    const QString folderName = QSettings(iniPath, QSettings::IniFormat)
                                   .value(QStringLiteral("Version/Folder"), QStringLiteral("Base"))
                                   .toString();
    const QDir folder(QDir(root).absolutePath() + QLatin1Char('/') + folderName);
    const QByteArray md5Bytes = readAll(folder.absoluteFilePath(UpdateNames::md5List()));
    const QByteArray shaBytes = readAll(folder.absoluteFilePath(UpdateNames::sha256List()));
    checkLists(folder, md5Bytes, shaBytes, release, &report);
    // Decoded with the clients' code page itself: through the local one, a list written for
    // another code page would lose or change the names it cannot represent.
    const Manifest listed = parseManifest(md5Bytes, codec);
    const Sha256List sha256 = parseSha256List(shaBytes, codec);
    checkFiles(folder, listed, sha256, &report);
    verifyPackedCopies(root, folder, listed, sha256, codec, &report);
    report.facts.prepend(QStringLiteral("folder \"%1\"").arg(folderName));
    return report;
}
