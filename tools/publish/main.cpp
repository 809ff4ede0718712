// update-publish: writes the server content that the updater reads.
#include "commandline.h"
#include "listformat.h"
#include "publisher.h"
#include "serverurl.h"
#include "signingtool.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextCodec>
#include <QTextStream>

namespace {

enum ExitCode { Ok = 0, Failed = 1, BadUsage = 2 };

int printUrlLine(const QString &address, QTextStream &out, QTextStream &err)
{
    QString error;
    QString url;
    if (!systemCfgUrl(address, &url, &error)) {
        err << "update-publish: " << error << '\n';
        return BadUsage;
    }
    out << "Put into section [Update] of system.cfg (files are fetched from URL + folder with no "
           "separator, so it ends with \"/\"):\n"
        << "URL=" << url << '\n';
    return Ok;
}

void printSummary(const PublishOptions &options, const PublishResult &result, QTextStream &out)
{
    out << (!result.unchanged   ? "Published "
            : result.packsAdded ? "Already published, packed copies added: "
                                : "Already published, unchanged: ")
        << result.folderPath << " (" << result.fileCount << " files, " << result.byteCount
        << " bytes, code page " << options.codec->name() << ")\n"
        << "update.ini: " << (options.forced ? "forced" : "optional") << " update to version \""
        << options.version << "\" in folder \"" << options.folder << "\"\n";
    for (const QString &line : result.packReport)
        out << line << '\n';
    if (options.signingKeys.isEmpty())
        return;
    out << "signed with " << options.signingKeys.size()
        << (options.signingKeys.size() == 1 ? " key" : " keys") << ", Sequence " << result.sequence
        << ", "
        << (result.expires.isEmpty() ? QStringLiteral("no expiry")
                                     : QStringLiteral("expires ") + result.expires)
        << ": sha256.txt, update.ini.sig\n";
}

int runKeygen(const QString &folder, QTextStream &out, QTextStream &err)
{
    PublicKey key;
    QString error;
    if (!writeKeyPair(folder, &key, &error)) {
        err << "update-publish: " << error << '\n';
        return Failed;
    }
    const QDir dir(folder);
    out << "Private key: " << dir.absoluteFilePath(privateKeyFileName())
        << " (keep it secret and off the web server)\n"
        << "Public key:  " << dir.absoluteFilePath(publicKeyFileName()) << " (key id "
        << key.keyId() << ")\n"
        << "Put into section [Update] of system.cfg:\n"
        << "PublicKey=" << key.toBase64() << '\n';
    return Ok;
}

int runVerify(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    QList<PublicKey> keys;
    QString error;
    QTextCodec *codec = clientCodec(parser.value(QStringLiteral("codepage")));
    if (!parser.isSet(QStringLiteral("public-key")) || !codec ||
        !readPublicKeys(parser.values(QStringLiteral("public-key")), &keys, &error)) {
        err << "update-publish: "
            << (error.isEmpty() ? QStringLiteral("--verify needs --public-key and a known "
                                                 "--codepage")
                                : error)
            << '\n';
        return BadUsage;
    }
    const QString root = parser.value(QStringLiteral("verify"));
    const VerifyReport report = verifyPublishedRelease(root, keys, codec);
    for (const QString &problem : report.problems)
        err << "update-publish: " << problem << '\n';
    if (!report.problems.isEmpty())
        return Failed;
    out << "OK: " << root << ": " << report.facts.join(QStringLiteral(", ")) << '\n';
    return Ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    if (parser.isSet(QStringLiteral("keygen")))
        return runKeygen(parser.value(QStringLiteral("keygen")), out, err);
    if (parser.isSet(QStringLiteral("verify")))
        return runVerify(parser, out, err);
    const bool onlyUrl =
        parser.isSet(QStringLiteral("server-url")) && parser.positionalArguments().isEmpty();
    if (onlyUrl)
        return printUrlLine(parser.value(QStringLiteral("server-url")), out, err);

    PublishOptions options;
    QString error;
    if (!readOptions(parser, &options, &error)) {
        err << "update-publish: " << error << '\n';
        return BadUsage;
    }
    PublishResult result;
    if (!publishRelease(options, &result, &error)) {
        err << "update-publish: " << error << '\n';
        return Failed;
    }
    if (result.replacedSigned)
        err << "update-publish: warning: the replaced update.ini was signed; clients with a "
               "PublicKey refuse this unsigned release, and the next signed one starts again "
               "at Sequence 1 unless --sequence is given\n";
    printSummary(options, result, out);
    if (parser.isSet(QStringLiteral("server-url")))
        return printUrlLine(parser.value(QStringLiteral("server-url")), out, err);
    return Ok;
}
