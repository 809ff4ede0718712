#include "verifiedrelease.h"

#include "trustmessages.h"

#include <QFileInfo>

struct VerifiedRelease::Data
{
    UpdateDescription description;
    QByteArray descriptionBytes;
    QByteArray descriptionSha256;
    ReleaseSection section;
    Sha256List files; // the SHA-256 hex as listed, by list path
};

VerifiedRelease::VerifiedRelease(std::shared_ptr<const Data> data) : d(std::move(data)) {}

VerifiedRelease VerifiedRelease::described(const UpdateDescription &description,
                                           const QByteArray &descriptionBytes,
                                           const ReleaseSection &section)
{
    auto data = std::make_shared<Data>();
    data->description = description;
    data->descriptionBytes = descriptionBytes;
    data->descriptionSha256 = sha256Hex(descriptionBytes);
    data->section = section;
    return VerifiedRelease(std::move(data));
}

const VerifiedRelease::Data &VerifiedRelease::data() const
{
    static const Data nothingVerified;
    return d ? *d : nothingVerified;
}

UpdateDescription VerifiedRelease::description() const
{
    return data().description;
}

QByteArray VerifiedRelease::descriptionBytes() const
{
    return data().descriptionBytes;
}

QByteArray VerifiedRelease::descriptionSha256() const
{
    return data().descriptionSha256;
}

ReleaseSection VerifiedRelease::section() const
{
    return data().section;
}

qint64 VerifiedRelease::sequence() const
{
    return data().section.sequence;
}

bool VerifiedRelease::checkMd5List(const QByteArray &listBytes, QString *error) const
{
    const ReleaseSection &section = data().section;
    if (section.md5List.isEmpty() || sha256Hex(listBytes) != section.md5List.toLower()) {
        *error = TrustMessages::md5ListMismatch();
        return false;
    }
    return true;
}

bool VerifiedRelease::checkPatchList(const QByteArray &listBytes, QString *error) const
{
    const ReleaseSection &section = data().section;
    if (section.patchListSha256.isEmpty() ||
        sha256Hex(listBytes) != section.patchListSha256.toLower()) {
        *error = TrustMessages::patchListMismatch();
        return false;
    }
    return true;
}

bool VerifiedRelease::withSha256List(const QByteArray &listBytes, VerifiedRelease *complete,
                                     QString *error) const
{
    const ReleaseSection &section = data().section;
    if (section.sha256List.isEmpty() || sha256Hex(listBytes) != section.sha256List.toLower()) {
        *error = TrustMessages::sha256ListMismatch();
        return false;
    }
    auto withFiles = std::make_shared<Data>(data());
    withFiles->files = parseSha256List(listBytes);
    *complete = VerifiedRelease(std::move(withFiles));
    return true;
}

bool VerifiedRelease::lists(const QString &path) const
{
    return !data().files.value(path).isEmpty();
}

QByteArray VerifiedRelease::sha256Of(const QString &path) const
{
    return data().files.value(path);
}

bool VerifiedRelease::checkFile(const QString &path, const QByteArray &sha256Hex,
                                QString *error) const
{
    const QString fileName = QFileInfo(path).fileName();
    const Sha256List &files = data().files;
    const auto listed = files.constFind(path);
    if (listed == files.constEnd()) {
        *error = TrustMessages::fileNotInSha256List(fileName);
        return false;
    }
    if (sha256Hex.isEmpty() || listed.value().toLower() != sha256Hex.toLower()) {
        *error = TrustMessages::fileSha256Mismatch(fileName);
        return false;
    }
    return true;
}

VerifiedRelease VerifiedRelease::restored(qint64 sequence, const QByteArray &descriptionSha256,
                                          const Sha256List &digests)
{
    auto restored = std::make_shared<Data>();
    restored->section.sequence = sequence;
    restored->descriptionSha256 = descriptionSha256;
    restored->files = digests;
    return VerifiedRelease(std::move(restored));
}
