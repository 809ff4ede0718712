// Real `update console` runs against a real nginx whose release has packed copies, made with
// the zstd command line and listed in a list composed here: what the client asks for (nginx's
// access log), what it installs, and the requests of today when the feature is off or the
// release has no usable list.
#include "signedreleasefixture.h"

#include "packedrelease.h"

#include <QTest>

namespace {

const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";

const QByteArray A1 = randomBytes(300000, 21);
const QByteArray A2 = A1.left(120000) + randomBytes(3000, 22) + A1.mid(121000);
const QByteArray B2 = QByteArray(200000, 'b').replace(1000, 5, "two!!");

const SignedReleaseFixture::Files V1{{QStringLiteral("a.dll"), A1},
                                     {QStringLiteral("c.txt"), "c one"},
                                     {QStringLiteral("data/b.dat"), QByteArray(200000, 'b')},
                                     {QStringLiteral("same.txt"), "unchanged"}};
const SignedReleaseFixture::Files V2{{QStringLiteral("a.dll"), A2},
                                     {QStringLiteral("c.txt"), "c two"},
                                     {QStringLiteral("data/b.dat"), B2},
                                     {QStringLiteral("same.txt"), "unchanged"}};

const QString ListRequest = QStringLiteral("/v2/.~zstd/list.txt");
const QStringList WholeFiles{QStringLiteral("/v2/a.dll"), QStringLiteral("/v2/c.txt"),
                             QStringLiteral("/v2/data/b.dat")};

} // namespace

class TestPackedUpdate : public SignedReleaseFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }
    void fetchesWhatTheListOffers_data();
    void fetchesWhatTheListOffers();
    void requestsOfTodayWithoutAUsableList_data();
    void requestsOfTodayWithoutAUsableList();
    void fileEditedByHandComesWhole();

private:
    // system.cfg with the server, the cache, `extra` lines and, signed, the key "a".
    void configureWith(bool isSigned, const QByteArray &extra = QByteArray()) const;
    // V1 published and applied, then V2 published with a patch of a.dll from V1 and a
    // compressed copy of data/b.dat, and their list; returns the list's bytes.
    QByteArray publishV2WithPackedCopies(bool isSigned);
    // update.ini names `list` as `name`: [Patches], or signed in [Release].
    bool nameList(bool isSigned, const QByteArray &list,
                  const QString &name = QStringLiteral(".~zstd/list.txt")) const;
    QStringList before(bool isSigned) const;
    void expectV2Installed(const UpdaterRun &run) const;
    QByteArray log() const { return readFile(path(QStringLiteral("cache/.~log/update.log"))); }

    QByteArray m_patch;
    QByteArray m_compressed;
    int m_requestsBefore = 0;
};

void TestPackedUpdate::configureWith(bool isSigned, const QByteArray &extra) const
{
    QByteArray text = "[Update]\nURL=" + m_server->url().toUtf8() +
                      "\nCache=" + path(QStringLiteral("cache")).toUtf8() + "\n" + extra;
    if (isSigned)
        text += "PublicKey=" + publicKey(QStringLiteral("a")).toUtf8() + "\n";
    m_install->writeConfigText(text);
}

QByteArray TestPackedUpdate::publishV2WithPackedCopies(bool isSigned)
{
    const QStringList keys = isSigned ? QStringList{QStringLiteral("a")} : QStringList();
    if (!publish(QStringLiteral("v1"), V1, keys) || runConsole().exitCode != 0 ||
        !publish(QStringLiteral("v2"), V2, keys))
        return QByteArray();
    m_patch = PackedRelease::patch(A1, A2);
    m_compressed = PackedRelease::compress(B2);
    const QString version = root() + QStringLiteral("/v2");
    const QByteArray lines =
        PackedRelease::servePatch(version, QStringLiteral("a.dll"), m_patch, A1) +
        PackedRelease::serveCompressed(version, QStringLiteral("data/b.dat"), m_compressed);
    m_requestsBefore = requestCount();
    return PackedRelease::writeList(version, lines);
}

bool TestPackedUpdate::nameList(bool isSigned, const QByteArray &list, const QString &name) const
{
    if (!isSigned)
        return PackedRelease::nameInDescription(root(), list, name);
    const QByteArray description = PackedRelease::withReleaseKeys(
        readFile(root() + QStringLiteral("/update.ini")), list, name);
    return !description.isEmpty() && resign(description, QStringLiteral("a"));
}

// The requests of an attempt before its files.
QStringList TestPackedUpdate::before(bool isSigned) const
{
    if (!isSigned)
        return {QStringLiteral("/update.ini"), QStringLiteral("/v2/md5.txt")};
    return {QStringLiteral("/update.ini"), QStringLiteral("/update.ini.sig"),
            QStringLiteral("/v2/md5.txt"), QStringLiteral("/v2/sha256.txt")};
}

void TestPackedUpdate::expectV2Installed(const UpdaterRun &run) const
{
    QVERIFY2(run.finished, run.errors.constData());
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    QByteArray differences;
    QVERIFY2(foldersEqual(path(QStringLiteral("releases/v2")), installDir(), clientOnlyNames(),
                          &differences),
             differences.constData());
    QCOMPARE(readFile(installDir() + QStringLiteral("/update_md5.info")),
             readFile(root() + QStringLiteral("/v2/md5.txt")));
}

void TestPackedUpdate::fetchesWhatTheListOffers_data()
{
    QTest::addColumn<bool>("isSigned");
    QTest::newRow("unsigned release, [Patches]") << false;
    QTest::newRow("signed release, [Release]") << true;
}

// a.dll as its patch from the installed version, c.txt whole (nothing listed for it),
// data/b.dat as its compressed copy; same.txt is not fetched at all.
void TestPackedUpdate::fetchesWhatTheListOffers()
{
    QFETCH(bool, isSigned);
    configureWith(isSigned);
    const QByteArray list = publishV2WithPackedCopies(isSigned);
    QVERIFY(!list.isEmpty());
    QVERIFY(nameList(isSigned, list));
    expectV2Installed(runConsole());
    const QStringList files{QStringLiteral("/v2/") + PackedRelease::relativePath(m_patch),
                            QStringLiteral("/v2/c.txt"),
                            QStringLiteral("/v2/") + PackedRelease::relativePath(m_compressed)};
    m_server->waitForRequests(m_requestsBefore + before(isSigned).size() + 4);
    QCOMPARE(requestsSince(m_requestsBefore), before(isSigned) + QStringList(ListRequest) + files);
    const QByteArray lines = log();
    QVERIFY(lines.contains(" update.fetch a.dll: fetching the patch, "));
    QVERIFY(lines.contains(" update.fetch data/b.dat: fetching the compressed copy, "));
    QVERIFY(lines.contains(" update.check .~zstd/list.txt matches update.ini: 2 packed copies\n"));
}

void TestPackedUpdate::requestsOfTodayWithoutAUsableList_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("how");       // what the release names
    QTest::addColumn<bool>("asksList");     // whether the list is asked for (and not used)
    QTest::addColumn<QByteArray>("logged"); // the log line that says why, if any
    QTest::newRow("Patches=false")
        << QByteArray("Patches=false\n") << "named" << false << QByteArray();
    QTest::newRow("patches=FALSE")
        << QByteArray("patches=FALSE\n") << "named" << false << QByteArray();
    QTest::newRow("no list named") << QByteArray() << "nothing" << false << QByteArray();
    QTest::newRow("list outside .~zstd")
        << QByteArray() << "outside" << false
        << QByteArray(" update.fetch update.ini names no usable list of packed copies");
    QTest::newRow("list other than the one named")
        << QByteArray() << "changed" << true
        << QByteArray(" update.fetch .~zstd/list.txt differs from update.ini: files are fetched "
                      "whole\n");
    QTest::newRow("list missing on the server")
        << QByteArray() << "missing" << true
        << QByteArray(" update.fetch .~zstd/list.txt could not be fetched (");
}

// Unsigned releases: the files come whole, with exactly the requests of a client without the
// feature (and the list's own, when it is asked for before it turns out useless).
void TestPackedUpdate::requestsOfTodayWithoutAUsableList()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, how);
    QFETCH(bool, asksList);
    QFETCH(QByteArray, logged);
    configureWith(false, config);
    const QByteArray list = publishV2WithPackedCopies(false);
    QVERIFY(!list.isEmpty());
    const QString listFile = root() + QStringLiteral("/v2/.~zstd/list.txt");
    if (how == QLatin1String("named") || how == QLatin1String("missing"))
        QVERIFY(nameList(false, list));
    if (how == QLatin1String("outside"))
        QVERIFY(nameList(false, list, QStringLiteral(".~zstd/../.~zstd/list.txt")));
    if (how == QLatin1String("changed"))
        QVERIFY(nameList(false, list + "\r\n"));
    if (how == QLatin1String("missing"))
        QVERIFY(QFile::remove(listFile));
    expectV2Installed(runConsole());
    const QStringList expected =
        before(false) + (asksList ? QStringList(ListRequest) : QStringList()) + WholeFiles;
    m_server->waitForRequests(m_requestsBefore + expected.size());
    QCOMPARE(requestsSince(m_requestsBefore), expected);
    QVERIFY2(log().contains(logged), log().constData());
    if (logged.isEmpty())
        QVERIFY(!log().contains("packed copies"));
}

// An installed file that is not what the record says: the patch is fetched, does not make
// the listed file, and the whole file takes its place.
void TestPackedUpdate::fileEditedByHandComesWhole()
{
    configureWith(false);
    const QByteArray list = publishV2WithPackedCopies(false);
    QVERIFY(!list.isEmpty());
    QVERIFY(nameList(false, list));
    QVERIFY(writeFile(installDir(), QStringLiteral("a.dll"),
                      QByteArray(A1).replace(200000, 6, "edited")));
    expectV2Installed(runConsole());
    const QStringList files{QStringLiteral("/v2/") + PackedRelease::relativePath(m_patch),
                            QStringLiteral("/v2/a.dll"), QStringLiteral("/v2/c.txt"),
                            QStringLiteral("/v2/") + PackedRelease::relativePath(m_compressed)};
    m_server->waitForRequests(m_requestsBefore + 7);
    QCOMPARE(requestsSince(m_requestsBefore), before(false) + QStringList(ListRequest) + files);
    QVERIFY2(log().contains(" update.fetch a.dll: the patch failed (zstd failed on "),
             log().constData());
}

QTEST_GUILESS_MAIN(TestPackedUpdate)
#include "tst_packedupdate.moc"
