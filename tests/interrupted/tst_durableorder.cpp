// The order in which the real `update` makes its apply durable, read from the system calls it
// makes (strace): what a power cut could otherwise lose lies in no folder flush's shadow.
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

// One system call that succeeded: its name and its path arguments (a flushed descriptor
// stands for the path it was opened with).
struct Call
{
    QString name;
    QStringList paths;
};

QStringList quotedIn(const QString &arguments)
{
    static const QRegularExpression quoted(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    QStringList strings;
    auto it = quoted.globalMatch(arguments);
    while (it.hasNext())
        strings.append(it.next().captured(1));
    return strings;
}

// strace -f output: a call that another thread interrupted comes in two lines.
QList<Call> callsIn(const QByteArray &trace)
{
    static const QRegularExpression whole(
        QStringLiteral("^(\\d+)\\s+(\\w+)\\((.*)\\)\\s+=\\s+(-?\\d+)"));
    static const QRegularExpression begun(
        QStringLiteral("^(\\d+)\\s+(\\w+)\\((.*) <unfinished \\.\\.\\.>$"));
    static const QRegularExpression resumed(
        QStringLiteral("^(\\d+)\\s+<\\.\\.\\. (\\w+) resumed>(.*)\\)\\s+=\\s+(-?\\d+)"));
    QHash<QString, QString> pending, descriptors;
    QList<Call> calls;
    for (const QByteArray &bytes : trace.split('\n')) {
        const QString line = QString::fromUtf8(bytes);
        QString name, arguments, result;
        if (const auto m = begun.match(line); m.hasMatch()) {
            pending.insert(m.captured(1), m.captured(3));
            continue;
        }
        if (const auto m = resumed.match(line); m.hasMatch()) {
            name = m.captured(2);
            arguments = pending.take(m.captured(1)) + m.captured(3);
            result = m.captured(4);
        } else if (const auto m = whole.match(line); m.hasMatch()) {
            name = m.captured(2);
            arguments = m.captured(3);
            result = m.captured(4);
        }
        if (name.isEmpty() || result.toLongLong() < 0)
            continue;
        if (name == QLatin1String("openat") || name == QLatin1String("open"))
            descriptors.insert(result, quotedIn(arguments).value(0));
        else if (name == QLatin1String("fsync"))
            calls.append({name, {descriptors.value(arguments.section(QLatin1Char(','), 0, 0))}});
        else
            calls.append({name, quotedIn(arguments)});
    }
    return calls;
}

// The first call from `from` on named `name` (any of them) whose paths end with `path`.
int find(const QList<Call> &calls, int from, const QStringList &names, const QString &path,
         int pathIndex)
{
    for (int i = qMax(from, 0); i < calls.size(); ++i) {
        if (names.contains(calls.at(i).name) && calls.at(i).paths.value(pathIndex) == path)
            return i;
    }
    return -1;
}

} // namespace

class TestDurableOrder : public QObject
{
    Q_OBJECT
private slots:
    void everyNameIsFlushedBeforeItIsReliedOn();
};

// Regression: nothing was flushed between a backup's link and the rename of the new file over
// the path, and a new folder's parent was never flushed.
void TestDurableOrder::everyNameIsFlushedBeforeItIsReliedOn()
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty() || !TestInstall::windowsBuild().isEmpty())
        QSKIP("needs strace and the Linux updater");
    QTemporaryDir served;
    NginxServer nginx(served.path());
    QVERIFY(nginx.start());
    TestInstall install;
    QVERIFY(install.isValid());
    const QString app = install.appDir();
    install.writeConfig({{"URL", nginx.url()}, {"Cache", install.rootPath() + "/cache"}});
    const QMap<QString, QByteArray> previous = {{"a.txt", "a1"}, {"sub/b.txt", "b1"}};
    writeFile(app + "/update_md5.info", ServerRelease::writeVersion(served.path(), "v1", previous));
    ServerRelease::writeVersion(served.path(), "v2",
                                {{"a.txt", "a2"}, {"sub/b.txt", "b2"}, {"new/deep/c.txt", "c2"}});
    ServerRelease::writeDescription(served.path(), 0, "v2", "2");
    ServerRelease::install(app, previous);

    QProcess run;
    const QString trace = install.rootPath() + "/trace";
    TestInstall::setUpProgram(&run, strace,
                              {"-f", "-qq", "-s", "4096", "-o", trace, "-e",
                               "trace=openat,open,fsync,link,linkat,rename,renameat,renameat2,"
                               "mkdir,mkdirat",
                               install.updaterPath(), "console"});
    // LeakSanitizer cannot work under a tracer, and a sanitizer build would then abort.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    run.setProcessEnvironment(environment);
    run.start();
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);
    const QList<Call> calls = callsIn(readFile(trace));
    const QStringList renames = {"rename", "renameat", "renameat2"};
    const QString journal = app + "/update_md5.info.journal";
    const int applyState = find(calls, 0, renames, journal, 1);
    const int commitState = find(calls, applyState + 1, renames, journal, 1);
    QVERIFY(applyState >= 0 && commitState > applyState);

    for (const QString &name : {"a.txt", "sub/b.txt"}) {
        const QString path = app + '/' + name;
        const int backup = find(calls, applyState, {"link", "linkat"}, path + ".~pv", 1);
        const int swap = find(calls, backup, renames, path, 1);
        QVERIFY2(backup > 0 && swap > backup, qPrintable(name));
        const int flush = find(calls, backup, {"fsync"}, QFileInfo(path).absolutePath(), 0);
        QVERIFY2(flush > backup && flush < swap,
                 qPrintable(name + " swapped before its backup was durable"));
    }
    for (const QString &folder : {"new", "new/deep"}) {
        const QString path = app + '/' + folder;
        const int made = find(calls, applyState, {"mkdir", "mkdirat"}, path, 0);
        QVERIFY2(made > 0, qPrintable(folder));
        for (const QString &flushed : {path, QFileInfo(path).absolutePath()}) {
            const int flush = find(calls, made, {"fsync"}, flushed, 0);
            QVERIFY2(flush > made && flush < commitState,
                     qPrintable(flushed + " not flushed before the commit"));
        }
    }
}

QTEST_GUILESS_MAIN(TestDurableOrder)
#include "tst_durableorder.moc"
