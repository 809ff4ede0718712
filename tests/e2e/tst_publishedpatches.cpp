// A release published by the real update-publish with compressed copies and patches from the
// two versions before it, applied by real `update console` runs from each of those versions:
// which URLs each client asks for (nginx's access log) and what it installs.
#include "signedreleasefixture.h"

#include "serverrelease.h"

#include <QTest>

namespace {

const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";

const QByteArray A1 = randomBytes(300000, 31);
const QByteArray A2 = QByteArray(A1).replace(40000, 3000, randomBytes(3000, 32));
const QByteArray A3 = QByteArray(A2).replace(250000, 3000, randomBytes(3000, 33));

// a.dll changes a little in each version (a patch from either earlier one is small, the file
// does not compress); new.dat comes with v3 and compresses well; c.txt is too small for either.
const SignedReleaseFixture::Files V1{{QStringLiteral("a.dll"), A1},
                                     {QStringLiteral("c.txt"), "c one"}};
const SignedReleaseFixture::Files V2{{QStringLiteral("a.dll"), A2},
                                     {QStringLiteral("c.txt"), "c two"}};
const SignedReleaseFixture::Files V3{{QStringLiteral("a.dll"), A3},
                                     {QStringLiteral("c.txt"), "c three"},
                                     {QStringLiteral("new.dat"), QByteArray(150000, 'n')}};

} // namespace

class TestPublishedPatches : public SignedReleaseFixture
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }
    void eachClientFetchesItsPatch_data();
    void eachClientFetchesItsPatch();

private:
    // The server path of the packed copy that list.txt of v3 names for `path` with `kind` and
    // `base` (the digest text of the base, "-" for a compressed copy); empty when none.
    QString packedCopy(const QByteArray &kind, const QByteArray &base, const QString &path) const;
};

QString TestPublishedPatches::packedCopy(const QByteArray &kind, const QByteArray &base,
                                         const QString &path) const
{
    const QList<QByteArray> lines =
        readFile(root() + QStringLiteral("/v3/.~zstd/list.txt")).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() == 6 && fields.at(0) == kind && fields.at(1) == base &&
            fields.at(5) == path.toUtf8())
            return QStringLiteral("/v3/.~zstd/") + QString::fromLatin1(fields.at(4)) +
                   QStringLiteral(".zst");
    }
    return QString();
}

void TestPublishedPatches::eachClientFetchesItsPatch_data()
{
    QTest::addColumn<QString>("installed"); // the version the client runs
    QTest::addColumn<bool>("isSigned");
    QTest::newRow("from v2") << "v2" << false;
    QTest::newRow("from v1, two versions back") << "v1" << false;
    QTest::newRow("from v2, signed") << "v2" << true;
    QTest::newRow("from v1, signed") << "v1" << true;
}

void TestPublishedPatches::eachClientFetchesItsPatch()
{
    QFETCH(QString, installed);
    QFETCH(bool, isSigned);
    const QStringList keys = isSigned ? QStringList{QStringLiteral("a")} : QStringList();
    configure(isSigned ? publicKey(QStringLiteral("a")) : QString());
    QVERIFY(publish(QStringLiteral("v1"), V1, keys));
    QCOMPARE(runConsole().exitCode, 0);
    QVERIFY(publish(QStringLiteral("v2"), V2, keys));
    if (installed == QLatin1String("v2"))
        QCOMPARE(runConsole().exitCode, 0);
    QVERIFY(publish(QStringLiteral("v3"), V3, keys,
                    {QStringLiteral("--compress"), QStringLiteral("--patch-from"),
                     QStringLiteral("v2"), QStringLiteral("--patch-from"), QStringLiteral("v1")}));
    const QByteArray base = ServerRelease::digestText(installed == QLatin1String("v2") ? A2 : A1);
    const QString patch = packedCopy("patch", base, QStringLiteral("a.dll"));
    const QString compressed = packedCopy("zstd", "-", QStringLiteral("new.dat"));
    QVERIFY(!patch.isEmpty());
    QVERIFY(!compressed.isEmpty());
    QVERIFY(packedCopy("zstd", "-", QStringLiteral("c.txt")).isEmpty());

    const int before = requestCount();
    const UpdaterRun run = runConsole();
    QVERIFY2(run.finished, run.errors.constData());
    QCOMPARE(run.output, ForcedUpdate);
    QByteArray differences;
    QVERIFY2(foldersEqual(path(QStringLiteral("releases/v3")), installDir(), clientOnlyNames(),
                          &differences),
             differences.constData());
    QStringList expected{QStringLiteral("/update.ini"), QStringLiteral("/v3/md5.txt")};
    if (isSigned)
        expected = QStringList{QStringLiteral("/update.ini"), QStringLiteral("/update.ini.sig"),
                               QStringLiteral("/v3/md5.txt"), QStringLiteral("/v3/sha256.txt")};
    expected << QStringLiteral("/v3/.~zstd/list.txt") << patch << QStringLiteral("/v3/c.txt")
             << compressed;
    m_server->waitForRequests(before + expected.size());
    QCOMPARE(requestsSince(before), expected);
}

QTEST_GUILESS_MAIN(TestPublishedPatches)
#include "tst_publishedpatches.moc"
