#include "signaturefile.h"

#include <QtTest>

Q_DECLARE_METATYPE(SignatureCheck)
Q_DECLARE_METATYPE(PublicKey)

namespace {

const QByteArray Description = "[Summary]\r\nUpdateType=1\r\n\r\n[Version]\r\nFolder=v2\r\n";

// The same line with one character of its base64 signature changed.
QByteArray withChangedSignature(QByteArray line)
{
    const int at = line.lastIndexOf(' ') + 5;
    line[at] = line.at(at) == 'A' ? 'B' : 'A';
    return line;
}

} // namespace

class TstSignatureFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesOneLinePerKey();
    void checksSignature_data();
    void checksSignature();
    void skipsMalformedLines_data();
    void skipsMalformedLines();

private:
    SigningKey m_old;
    SigningKey m_new;
    SigningKey m_stranger;
};

void TstSignatureFile::initTestCase()
{
    m_old = SigningKey::generate();
    m_new = SigningKey::generate();
    m_stranger = SigningKey::generate();
}

void TstSignatureFile::writesOneLinePerKey()
{
    const QByteArray line = signatureLine(m_old, Description);
    const QRegularExpression form(QStringLiteral("^ed25519 [0-9a-f]{16} [A-Za-z0-9+/]{86}==\n$"));
    QVERIFY2(form.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    QVERIFY(line.contains(" " + m_old.publicKey().keyId() + " "));
    const QList<SignatureLine> parsed =
        parseSignatureFile(line + signatureLine(m_new, Description));
    QCOMPARE(parsed.size(), 2);
    QCOMPARE(parsed.at(0).keyId, m_old.publicKey().keyId());
    QCOMPARE(parsed.at(1).keyId, m_new.publicKey().keyId());
    QCOMPARE(parsed.at(1).signature, m_new.sign(Description));
}

void TstSignatureFile::checksSignature_data()
{
    QTest::addColumn<QByteArray>("signatureFile");
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QList<PublicKey>>("keys");
    QTest::addColumn<SignatureCheck>("result");
    const QByteArray byOld = signatureLine(m_old, Description);
    const QByteArray byNew = signatureLine(m_new, Description);
    const QByteArray byStranger = signatureLine(m_stranger, Description);
    const PublicKey oldKey = m_old.publicKey();
    const PublicKey newKey = m_new.publicKey();
    QByteArray changed = Description;
    changed[changed.size() - 3] = '3';
    QByteArray strangerAsOld = byStranger;
    strangerAsOld.replace(m_stranger.publicKey().keyId(), oldKey.keyId());

    QTest::newRow("valid") << byOld << Description << QList<PublicKey>{oldKey}
                           << SignatureCheck::Valid;
    QTest::newRow("CR LF") << QByteArray(byOld).replace("\n", "\r\n") << Description
                           << QList<PublicKey>{oldKey} << SignatureCheck::Valid;
    QTest::newRow("wrong key") << byStranger << Description << QList<PublicKey>{oldKey}
                               << SignatureCheck::UnknownKey;
    QTest::newRow("wrong key under a known id")
        << strangerAsOld << Description << QList<PublicKey>{oldKey} << SignatureCheck::Invalid;
    QTest::newRow("changed byte in description")
        << byOld << changed << QList<PublicKey>{oldKey} << SignatureCheck::Invalid;
    QTest::newRow("changed byte in signature")
        << withChangedSignature(byOld) << Description << QList<PublicKey>{oldKey}
        << SignatureCheck::Invalid;
    QTest::newRow("empty file") << QByteArray() << Description << QList<PublicKey>{oldKey}
                                << SignatureCheck::Missing;
    QTest::newRow("two lines, old key known")
        << byOld + byNew << Description << QList<PublicKey>{oldKey} << SignatureCheck::Valid;
    QTest::newRow("two lines, new key known")
        << byOld + byNew << Description << QList<PublicKey>{newKey} << SignatureCheck::Valid;
    QTest::newRow("two keys known, signed by the new")
        << byNew << Description << QList<PublicKey>{oldKey, newKey} << SignatureCheck::Valid;
    QTest::newRow("bad line before a good one")
        << withChangedSignature(byOld) + byNew << Description << QList<PublicKey>{oldKey, newKey}
        << SignatureCheck::Valid;
    QTest::newRow("two lines, neither key known")
        << byOld + byNew << Description << QList<PublicKey>{m_stranger.publicKey()}
        << SignatureCheck::UnknownKey;
    QTest::newRow("no key configured")
        << byOld << Description << QList<PublicKey>() << SignatureCheck::UnknownKey;
}

void TstSignatureFile::checksSignature()
{
    QFETCH(QByteArray, signatureFile);
    QFETCH(QByteArray, description);
    QFETCH(QList<PublicKey>, keys);
    QFETCH(SignatureCheck, result);
    QCOMPARE(checkSignature(description, signatureFile, keys), result);
}

void TstSignatureFile::skipsMalformedLines_data()
{
    QTest::addColumn<QByteArray>("line");
    const QByteArray good = signatureLine(m_old, Description).trimmed();
    const QList<QByteArray> fields = good.split(' ');
    const QByteArray signature63 = m_old.sign(Description).left(63).toBase64();
    QTest::newRow("two fields") << fields.at(0) + ' ' + fields.at(1);
    QTest::newRow("four fields") << good + " extra";
    QTest::newRow("other algorithm") << "rsa " + fields.at(1) + ' ' + fields.at(2);
    QTest::newRow("algorithm in capitals") << "ED25519 " + fields.at(1) + ' ' + fields.at(2);
    QTest::newRow("short key id") << "ed25519 " + fields.at(1).left(15) + ' ' + fields.at(2);
    QTest::newRow("key id not hex") << "ed25519 " + fields.at(1).left(15) + "g " + fields.at(2);
    QTest::newRow("signature not base64") << "ed25519 " + fields.at(1) + " ***" + fields.at(2);
    QTest::newRow("signature of 63 bytes") << "ed25519 " + fields.at(1) + ' ' + signature63;
    QTest::newRow("blank") << QByteArray("   ");
}

void TstSignatureFile::skipsMalformedLines()
{
    QFETCH(QByteArray, line);
    const QList<PublicKey> keys{m_old.publicKey()};
    QCOMPARE(checkSignature(Description, line + '\n', keys), SignatureCheck::Missing);
    // A malformed line does not disturb a good one after it.
    QCOMPARE(checkSignature(Description, line + '\n' + signatureLine(m_old, Description), keys),
             SignatureCheck::Valid);
}

QTEST_GUILESS_MAIN(TstSignatureFile)
#include "tst_signaturefile.moc"
