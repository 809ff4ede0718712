// update-publish: writes the server content that the updater reads.
#include "listformat.h"
#include "publisher.h"
#include "serverurl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
    });
}

int printUrlLine(const QString &address, QTextStream &out, QTextStream &err)
{
    QString error;
    const QString url = systemCfgUrl(address, &error);
    if (url.isEmpty()) {
        err << "update-publish: " << error << '\n';
        return BadUsage;
    }
    out << "Put into section [Update] of system.cfg (files are fetched from URL + folder with no "
           "separator, so it ends with \"/\"):\n"
        << "URL=" << url << '\n';
    return Ok;
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
    return true;
}

void printSummary(const PublishOptions &options, const PublishResult &result, QTextStream &out)
{
    out << (result.unchanged ? "Already published, unchanged: " : "Published ") << result.folderPath
        << " (" << result.fileCount << " files, " << result.byteCount << " bytes, code page "
        << options.codec->name() << ")\n"
        << "update.ini: " << (options.forced ? "forced" : "optional") << " update to version \""
        << options.version << "\" in folder \"" << options.folder << "\"\n";
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
    printSummary(options, result, out);
    if (parser.isSet(QStringLiteral("server-url")))
        return printUrlLine(parser.value(QStringLiteral("server-url")), out, err);
    return Ok;
}
