// --verify: a published tree checked the way a client with a configured key checks it.
#include "signingtool.h"

#include "digest.h"
#include "listformat.h"
#include "manifest.h"
#include "publishfiles.h"
#include "releaseverifier.h"
#include "trustmessages.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int MaximumFileProblems = 50;

QString clientSays(const QString &message)
{
    return QStringLiteral(" (clients report: %1)").arg(message);
}

void checkDescription(const QString &root, ReleaseVerifier *verifier, VerifyReport *report)
{
    const QDir dir(root);
    const QString iniPath = dir.absoluteFilePath(QStringLiteral("update.ini"));
    const QString sigPath = dir.absoluteFilePath(QStringLiteral("update.ini.sig"));
    if (!QFileInfo::exists(sigPath))
        report->problems << QStringLiteral("update.ini.sig is missing");
    else if (!verifier->checkSignature(readAll(iniPath), readAll(sigPath)))
        report->problems << QStringLiteral("update.ini.sig does not verify update.ini with the "
                                           "given key") +
                                clientSays(verifier->errorString());
    else
        report->facts << QStringLiteral("signature verified");
    if (!verifier->checkRelease(iniPath, 0)) {
        report->problems << QStringLiteral("[Release] of update.ini is not acceptable") +
                                clientSays(verifier->errorString());
        return;
    }
    const ReleaseSection release = verifier->release();
    report->facts << QStringLiteral("Sequence %1").arg(release.sequence)
                  << (release.hasExpiry() ? QStringLiteral("expires %1").arg(release.expiresText)
                                          : QStringLiteral("no expiry"));
}

void checkLists(const QDir &folder, const QByteArray &md5Bytes, const QByteArray &shaBytes,
                ReleaseVerifier *verifier, VerifyReport *report)
{
    if (!verifier->checkMd5List(md5Bytes))
        report->problems << QStringLiteral("%1 does not match Md5List of update.ini")
                                    .arg(folder.absoluteFilePath(QStringLiteral("md5.txt"))) +
                                clientSays(verifier->errorString());
    if (!QFileInfo::exists(folder.absoluteFilePath(QStringLiteral("sha256.txt"))))
        report->problems << QStringLiteral("%1 is missing")
                                .arg(folder.absoluteFilePath(QStringLiteral("sha256.txt")));
    else if (!verifier->checkSha256List(shaBytes))
        report->problems << QStringLiteral("%1 does not match Sha256List of update.ini")
                                    .arg(folder.absoluteFilePath(QStringLiteral("sha256.txt"))) +
                                clientSays(verifier->errorString());
}

QString fileProblem(const QDir &folder, const ManifestEntry &entry, const Sha256List &sha256)
{
    const QString path = folder.absoluteFilePath(entry.path);
    const QString name = QFileInfo(entry.path).fileName();
    if (!isContainedRelativePath(entry.path))
        return QStringLiteral("md5.txt lists \"%1\", which leaves the installation folder");
    if (!QFileInfo(path).isFile())
        return QStringLiteral("%1 is missing");
    if (QFileInfo(path).size() != entry.size)
        return QStringLiteral("%1 differs in size from its md5.txt line");
    if (!fileMatchesDigest(path, entry.md5))
        return QStringLiteral("%1 differs from its MD5 in md5.txt");
    if (!sha256.contains(entry.path))
        return QStringLiteral("%1 is not listed in sha256.txt") +
               clientSays(TrustMessages::fileNotInSha256List(name));
    QByteArray hex;
    if (!fileSha256Hex(path, &hex) || hex != sha256.value(entry.path).toLower())
        return QStringLiteral("%1 differs from its SHA-256 in sha256.txt") +
               clientSays(TrustMessages::fileSha256Mismatch(name));
    return QString();
}

void checkFiles(const QDir &folder, const Manifest &manifest, const Sha256List &sha256,
                VerifyReport *report)
{
    int problems = 0;
    for (const ManifestEntry &entry : manifest) {
        const QString problem = fileProblem(folder, entry, sha256);
        if (!problem.isEmpty() && ++problems <= MaximumFileProblems)
            report->problems << problem.arg(folder.absoluteFilePath(entry.path));
    }
    for (auto it = sha256.constBegin(); it != sha256.constEnd(); ++it) {
        if (!manifest.contains(it.key()) && ++problems <= MaximumFileProblems)
            report->problems
                << QStringLiteral("sha256.txt lists \"%1\", md5.txt does not").arg(it.key());
    }
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
    const QString iniPath = QDir(root).absoluteFilePath(QStringLiteral("update.ini"));
    if (!QFileInfo(iniPath).isFile()) {
        report.problems << QStringLiteral("%1 is missing").arg(iniPath);
        return report;
    }
    ReleaseVerifier verifier;
    verifier.setPublicKeys(keys);
    checkDescription(root, &verifier, &report);
    // The folder as the clients form its address: the value exactly as written.
    const QString folderName = QSettings(iniPath, QSettings::IniFormat)
                                   .value(QStringLiteral("Version/Folder"), QStringLiteral("Base"))
                                   .toString();
    const QDir folder(QDir(root).absolutePath() + QLatin1Char('/') + folderName);
    const QByteArray md5Bytes = readAll(folder.absoluteFilePath(QStringLiteral("md5.txt")));
    const QByteArray shaBytes = readAll(folder.absoluteFilePath(QStringLiteral("sha256.txt")));
    checkLists(folder, md5Bytes, shaBytes, &verifier, &report);
    // Decoded with the clients' code page itself: through the local one, a list written for
    // another code page would lose or change the names it cannot represent.
    checkFiles(folder, parseManifest(md5Bytes, codec), parseSha256List(shaBytes, codec), &report);
    report.facts.prepend(QStringLiteral("folder \"%1\"").arg(folderName));
    return report;
}
