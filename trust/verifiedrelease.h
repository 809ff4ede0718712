#pragma once

#include "description.h"
#include "releasesection.h"
#include "sha256.h"

#include <QByteArray>
#include <QString>

#include <memory>

// What the checks of a signed release yield, and the one thing every later step asks about
// it: the description and its [Release] section, parsed once from exactly the bytes whose
// signature verified, and, once md5.txt and sha256.txt have passed against that section, the
// SHA-256 of every listed file. Immutable and cheap to copy. Made by ReleaseVerifier; a
// journal restores the part it recorded. The null value (default-constructed) stands for an
// unsigned release: nothing was verified, and every file passes on its size and MD5 alone.
class VerifiedRelease
{
public:
    VerifiedRelease() = default;
    bool isNull() const { return !d; }

    UpdateDescription description() const;
    QByteArray descriptionBytes() const;
    // The SHA-256 hex of those bytes, recorded with the Sequence (empty when not known).
    QByteArray descriptionSha256() const;
    ReleaseSection section() const;
    qint64 sequence() const;

    // md5.txt as fetched against Md5List.
    bool checkMd5List(const QByteArray &listBytes, QString *error) const;
    // The list of packed copies as fetched against PatchListSha256.
    bool checkPatchList(const QByteArray &listBytes, QString *error) const;
    // sha256.txt as fetched against Sha256List: the release with the file digests.
    bool withSha256List(const QByteArray &listBytes, VerifiedRelease *complete,
                        QString *error) const;

    // Whether sha256.txt lists a digest for `path` (a list path), and the SHA-256 hex it
    // lists for it as written (empty when it does not).
    bool lists(const QString &path) const;
    QByteArray sha256Of(const QString &path) const;
    // A downloaded or cached file of the release (its list path, its SHA-256 hex in either
    // case) against sha256.txt; false with the message the user sees.
    bool checkFile(const QString &path, const QByteArray &sha256Hex, QString *error) const;

    // The part of a release that an update's journal records: the Sequence, the description's
    // digest and the files' digests.
    static VerifiedRelease restored(qint64 sequence, const QByteArray &descriptionSha256,
                                    const Sha256List &digests);

private:
    friend class ReleaseVerifier;
    struct Data;
    explicit VerifiedRelease(std::shared_ptr<const Data> data);
    // A release whose description has passed, before its lists were checked.
    static VerifiedRelease described(const UpdateDescription &description,
                                     const QByteArray &descriptionBytes,
                                     const ReleaseSection &section);
    const Data &data() const;

    std::shared_ptr<const Data> d;
};
