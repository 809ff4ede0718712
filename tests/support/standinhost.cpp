// Stand-in for the host application. Appends one JSON line per start to
// "host-starts.jsonl" beside its own executable: the arguments, the working folder, and
// whether an update's journal was left beside it when it started.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QJsonArray arguments;
    const QStringList all = QCoreApplication::arguments();
    for (int i = 1; i < all.size(); ++i)
        arguments.append(all.at(i));

    QJsonObject record;
    record.insert(QStringLiteral("args"), arguments);
    record.insert(QStringLiteral("cwd"), QDir::currentPath());
    record.insert(QStringLiteral("journal"),
                  QFile::exists(QCoreApplication::applicationDirPath() +
                                QStringLiteral("/update_md5.info.journal")));

    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/host-starts.jsonl"));
    if (!log.open(QIODevice::Append))
        return 2;
    log.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
    return 0;
}
