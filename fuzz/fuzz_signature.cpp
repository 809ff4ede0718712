// libFuzzer target: parseSignatureFile and checkSignature must take any bytes of
// update.ini.sig, keep only lines the check can use, and accept a release only when a line of
// the configured key verifies update.ini. The key and update.ini below were made with
// update-publish (--keygen, --sign); corpus/signature/ holds what it signed them with.
#include "fuzzcheck.h"
#include "signaturefile.h"

#include <cstdint>

namespace {

const QByteArray Description = QByteArrayLiteral(
    "[Release]\n"
    "Md5List=f8b80ffa57e598f63c944a16bc6b5ac8fd6c98b2dfad848d033777ceb7d3e5a4\n"
    "Sequence=7\n"
    "Sha256List=98229380dcbf7541fc4312261b2c6336fc01620f234ac414190c1fbc4e2c8e8f\n"
    "\n"
    "[Summary]\n"
    "UpdateType=1\n"
    "\n"
    "[Version]\n"
    "Folder=v1\n"
    "Version=1.0\n");
const QByteArray ConfiguredKey = QByteArrayLiteral("zyOE8pWANjJuB2VjdCO19+LHqZpRvqeytUFfxxNleFA=");

bool isKeyId(const QByteArray &text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return text.size() == 16;
}

// What the check should say, from the parsed lines.
SignatureCheck expectedCheck(const QList<SignatureLine> &lines, const PublicKey &key)
{
    if (lines.isEmpty())
        return SignatureCheck::Missing;
    bool known = false;
    for (const SignatureLine &line : lines) {
        if (line.keyId != key.keyId())
            continue;
        known = true;
        if (key.verify(Description, line.signature))
            return SignatureCheck::Valid;
    }
    return known ? SignatureCheck::Invalid : SignatureCheck::UnknownKey;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const PublicKey key = PublicKey::fromBase64(ConfiguredKey);
    REQUIRE(!key.isNull());
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    const QList<SignatureLine> lines = parseSignatureFile(text);
    REQUIRE(lines.size() <= text.count('\n') + 1);
    for (const SignatureLine &line : lines) {
        REQUIRE(isKeyId(line.keyId));
        REQUIRE(line.signature.size() == SigningKey::SignatureSize);
        // The line as the publisher writes it reads back as this one line.
        const QByteArray written = "ed25519 " + line.keyId + ' ' + line.signature.toBase64() + '\n';
        const QList<SignatureLine> reread = parseSignatureFile(written);
        REQUIRE(reread.size() == 1 && reread.first().keyId == line.keyId &&
                reread.first().signature == line.signature);
    }
    REQUIRE(checkSignature(Description, text, {key}) == expectedCheck(lines, key));
    // Without a configured key nothing is accepted.
    REQUIRE(checkSignature(Description, text, {}) ==
            (lines.isEmpty() ? SignatureCheck::Missing : SignatureCheck::UnknownKey));
    return 0;
}
