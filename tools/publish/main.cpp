// update-publish: writes the server content that the updater reads.
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

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Publishes a release folder for the updater: copies its files to <root>/<folder>/, "
        "writes <root>/<folder>/md5.txt and then <root>/update.ini."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("release"),
                                 QStringLiteral("The host's files as they are to be installed."));
    parser.addPositionalArgument(QStringLiteral("root"),
                                 QStringLiteral("The server root that the web server serves."));
    parser.addOptions({
        {QStringLiteral("folder"), QStringLiteral("Server folder of this version (required)."),
         QStringLiteral("name")},
        {QStringLiteral("version"), QStringLiteral("Version text (default: the folder)."),
         QStringLiteral("text")},
        {QStringLiteral("optional"), QStringLiteral("Optional update: the user is asked first.")},
        {QStringLiteral("forced"), QStringLiteral("Forced update (the default).")},
        {QStringLiteral("codepage"),
         QStringLiteral("8-bit code page of the clients, e.g. GBK or windows-1252 "
                        "(default: this machine's local encoding)."),
         QStringLiteral("name")},
        {QStringLiteral("exclude"),
         QStringLiteral("Leave out matching files or folders (wildcards, repeatable)."),
         QStringLiteral("pattern")},
        {QStringLiteral("force"), QStringLiteral("Replace a folder that holds another version.")},
        {QStringLiteral("server-url"),
         QStringLiteral("Print the \"URL\" line of system.cfg for this server root address."),
         QStringLiteral("address")},
        {QStringLiteral("sign"),
         QStringLiteral("Sign the release with this private key (PEM); repeat to sign with two "
                        "keys while the key changes. Adds sha256.txt, [Release] and "
                        "update.ini.sig."),
         QStringLiteral("keyfile")},
        {QStringLiteral("expires"),
         QStringLiteral("With --sign: clients refuse the release this many days from now."),
         QStringLiteral("days")},
        {QStringLiteral("sequence"),
         QStringLiteral("With --sign: the release's Sequence (default: one more than the "
                        "replaced update.ini's, 1 for the first)."),
         QStringLiteral("number")},
        {QStringLiteral("keygen"),
         QStringLiteral("Write a new signing key pair into this folder and print the "
                        "\"PublicKey\" line of system.cfg."),
         QStringLiteral("folder")},
        {QStringLiteral("verify"),
         QStringLiteral("Check a published server root as a client with --public-key would."),
         QStringLiteral("root")},
        {QStringLiteral("public-key"),
         QStringLiteral("With --verify: a public key file (.pub); repeatable."),
         QStringLiteral("file")},
    });
}

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

bool readPositiveNumber(const QCommandLineParser &parser, const QString &name, qint64 *number,
                        QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    *number = parser.value(name).toLongLong(&ok);
    if (ok && *number > 0)
        return true;
    *error = QStringLiteral("--%1 takes a whole number above 0").arg(name);
    return false;
}

bool readSigningOptions(const QCommandLineParser &parser, PublishOptions *options, QString *error)
{
    const bool signing = parser.isSet(QStringLiteral("sign"));
    if (!signing &&
        (parser.isSet(QStringLiteral("expires")) || parser.isSet(QStringLiteral("sequence")))) {
        *error = QStringLiteral("--expires and --sequence need --sign");
        return false;
    }
    qint64 days = 0;
    if (!readPositiveNumber(parser, QStringLiteral("expires"), &days, error) ||
        !readPositiveNumber(parser, QStringLiteral("sequence"), &options->sequence, error))
        return false;
    if (days > 36500) {
        *error = QStringLiteral("--expires takes at most 36500 days");
        return false;
    }
    options->expiresDays = int(days);
    return readSigningKeys(parser.values(QStringLiteral("sign")), &options->signingKeys, error);
}

bool readOptions(const QCommandLineParser &parser, PublishOptions *options, QString *error)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2 || !parser.isSet(QStringLiteral("folder"))) {
        *error = QStringLiteral("give a release folder, a server root and --folder (see --help)");
        return false;
    }
    if (parser.isSet(QStringLiteral("optional")) && parser.isSet(QStringLiteral("forced"))) {
        *error = QStringLiteral("--optional and --forced exclude each other");
        return false;
    }
    options->releaseDir = positional.at(0);
    options->serverRoot = positional.at(1);
    options->folder = parser.value(QStringLiteral("folder"));
    options->version = parser.isSet(QStringLiteral("version"))
                           ? parser.value(QStringLiteral("version"))
                           : options->folder;
    options->forced = !parser.isSet(QStringLiteral("optional"));
    options->excludes = parser.values(QStringLiteral("exclude"));
    options->replaceExisting = parser.isSet(QStringLiteral("force"));
    options->codec = clientCodec(parser.value(QStringLiteral("codepage")));
    if (!options->codec) {
        *error = QStringLiteral("unknown code page \"%1\"")
                     .arg(parser.value(QStringLiteral("codepage")));
        return false;
    }
    return readSigningOptions(parser, options, error);
}

void printSummary(const PublishOptions &options, const PublishResult &result, QTextStream &out)
{
    out << (result.unchanged ? "Already published, unchanged: " : "Published ") << result.folderPath
        << " (" << result.fileCount << " files, " << result.byteCount << " bytes, code page "
        << options.codec->name() << ")\n"
        << "update.ini: " << (options.forced ? "forced" : "optional") << " update to version \""
        << options.version << "\" in folder \"" << options.folder << "\"\n";
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
