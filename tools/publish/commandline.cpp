// update-publish's command line.
#include "commandline.h"

#include "listformat.h"
#include "publisher.h"
#include "signingtool.h"

#include <QCommandLineParser>

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
        {QStringLiteral("compress"),
         QStringLiteral("Also publish a zstd-compressed copy of each file it makes clearly "
                        "smaller, in <folder>/.~zstd/.")},
        {QStringLiteral("patch-from"),
         QStringLiteral("A published folder below the root whose files are the bases of zstd "
                        "patches to the changed files, in <folder>/.~zstd/; repeatable."),
         QStringLiteral("folder")},
        {QStringLiteral("compress-level"),
         QStringLiteral("zstd level of the compressed copies and patches, 1-22 (default 19)."),
         QStringLiteral("level")},
    });
}

namespace {

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

bool readPackOptions(const QCommandLineParser &parser, PublishOptions *options, QString *error)
{
    options->compress = parser.isSet(QStringLiteral("compress"));
    options->patchFrom = parser.values(QStringLiteral("patch-from"));
    if (!parser.isSet(QStringLiteral("compress-level")))
        return true;
    if (!options->compress && options->patchFrom.isEmpty()) {
        *error = QStringLiteral("--compress-level needs --compress or --patch-from");
        return false;
    }
    bool ok = false;
    options->compressLevel = parser.value(QStringLiteral("compress-level")).toInt(&ok);
    if (ok && options->compressLevel >= 1 && options->compressLevel <= 22)
        return true;
    *error = QStringLiteral("--compress-level takes a whole number from 1 to 22");
    return false;
}

} // namespace

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
    return readSigningOptions(parser, options, error) && readPackOptions(parser, options, error);
}
