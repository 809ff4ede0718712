#include "updatejournal.h"

#include "fileops.h"
#include "pathrules.h"
#include "updatenames.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

constexpr int FormatVersion = 1;

const char *const StateNames[] = {"apply", "undo", "commit"};
const char *const PreviousNames[] = {"none", "file", "other"};

template <typename Enum, int N>
Enum enumFromName(const QString &name, const char *const (&names)[N], bool *ok)
{
    for (int i = 0; i < N; ++i) {
        if (name == QLatin1String(names[i]))
            return Enum(i);
    }
    *ok = false;
    return Enum(0);
}

// Every byte as listed: QString::fromLatin1(QByteArray) would end the text at a NUL.
QString latin1Text(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}

QJsonObject entryToJson(const JournalEntry &entry, const VerifiedRelease &release)
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), entry.file.path);
    object.insert(QStringLiteral("size"), QString::number(entry.file.size));
    object.insert(QStringLiteral("md5"), latin1Text(entry.file.md5));
    object.insert(QStringLiteral("previous"), QLatin1String(PreviousNames[int(entry.previous)]));
    object.insert(QStringLiteral("createdFolder"), entry.createdFolder);
    if (!release.isNull())
        object.insert(QStringLiteral("sha256"), latin1Text(release.sha256Of(entry.file.path)));
    return object;
}

JournalEntry entryFromJson(const QJsonObject &object, Sha256List *digests, bool *ok)
{
    JournalEntry entry;
    entry.file.path = object.value(QStringLiteral("path")).toString();
    bool sizeRead = false;
    entry.file.size = object.value(QStringLiteral("size")).toString().toLongLong(&sizeRead);
    entry.file.md5 = object.value(QStringLiteral("md5")).toString().toLatin1();
    entry.previous = enumFromName<JournalEntry::Previous>(
        object.value(QStringLiteral("previous")).toString(), PreviousNames, ok);
    entry.createdFolder = object.value(QStringLiteral("createdFolder")).toString();
    const QJsonValue sha256 = object.value(QStringLiteral("sha256"));
    if (sha256.isString())
        digests->insert(entry.file.path, sha256.toString().toLatin1());
    if (!sizeRead || entry.file.path.isEmpty())
        *ok = false;
    return entry;
}

// The topmost folder on the way to `path` that does not exist yet, or empty.
QString firstMissingFolder(const QString &path)
{
    QString missing;
    QFileInfo folder(QFileInfo(path).absolutePath());
    while (!folder.exists() && !folder.isRoot()) {
        missing = folder.absoluteFilePath();
        folder.setFile(folder.absolutePath());
    }
    return missing;
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

QString foldedIfWindows(const QString &path)
{
    return fileops::windowsNameRules() ? path.toCaseFolded() : path;
}

bool samePath(const QString &left, const QString &right)
{
    return foldedIfWindows(left) == foldedIfWindows(right);
}

// `path` lies strictly below `root` (both clean and absolute).
bool isBelow(const QString &path, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.size() > prefix.size() && foldedIfWindows(path).startsWith(foldedIfWindows(prefix));
}

// The entry's path stays in the installation, and a created folder lies inside it on the
// way to that path.
bool entryInside(const JournalEntry &entry, const QString &installRoot)
{
    if (!isContainedRelativePath(entry.file.path))
        return false;
    const QString installed = QDir::cleanPath(installRoot + QLatin1Char('/') + entry.file.path);
    if (!isBelow(installed, installRoot))
        return false;
    if (entry.createdFolder.isEmpty())
        return true;
    const QString created = QDir::cleanPath(entry.createdFolder);
    return entry.previous == JournalEntry::Previous::None && QDir::isAbsolutePath(created) &&
           isBelow(created, installRoot) && isBelow(installed, created);
}

} // namespace

UpdateJournal UpdateJournal::plan(const QDir &cacheDir, const QDir &installDir,
                                  const QList<ManifestEntry> &files)
{
    UpdateJournal journal;
    journal.cacheDir = QDir(cacheDir.absolutePath());
    for (const ManifestEntry &file : files) {
        JournalEntry entry;
        entry.file = file;
        const QString installed = installDir.absoluteFilePath(file.path);
        switch (fileops::kindOf(installed)) {
        case fileops::Kind::Missing:
            entry.createdFolder = firstMissingFolder(installed);
            break;
        case fileops::Kind::File:
            entry.previous = JournalEntry::Previous::File;
            break;
        default:
            entry.previous = JournalEntry::Previous::Other;
        }
        journal.entries.append(entry);
    }
    return journal;
}

QString UpdateJournal::pathIn(const QDir &installDir)
{
    return installDir.absoluteFilePath(UpdateNames::journal());
}

bool UpdateJournal::existsIn(const QDir &installDir)
{
    return fileops::exists(pathIn(installDir));
}

bool UpdateJournal::write(const QDir &installDir) const
{
    return fileops::writeAtomically(pathIn(installDir), toJson());
}

bool UpdateJournal::read(const QDir &installDir, const QDir &cacheDir)
{
    QFile file(pathIn(installDir));
    if (fileops::kindOf(file.fileName()) != fileops::Kind::File || !file.open(QIODevice::ReadOnly))
        return false;
    if (!fromJson(file.readAll()))
        return false;
    const QString installRoot = cleanAbsolute(installDir.absolutePath());
    if (!samePath(cleanAbsolute(this->cacheDir.path()), cleanAbsolute(cacheDir.absolutePath())))
        return false;
    QSet<QString> paths;
    for (const JournalEntry &entry : qAsConst(entries)) {
        const QString folded = foldedIfWindows(entry.file.path);
        if (!entryInside(entry, installRoot) || paths.contains(folded))
            return false;
        paths.insert(folded);
    }
    return true;
}

QByteArray UpdateJournal::toJson() const
{
    QJsonArray list;
    for (const JournalEntry &entry : entries)
        list.append(entryToJson(entry, release));
    QJsonObject object;
    object.insert(QStringLiteral("format"), FormatVersion);
    object.insert(QStringLiteral("state"), QLatin1String(StateNames[int(state)]));
    object.insert(QStringLiteral("cacheDir"), cleanAbsolute(cacheDir.path()));
    object.insert(QStringLiteral("entries"), list);
    if (writesRecord)
        object.insert(QStringLiteral("record"), QString::fromLatin1(record.toBase64()));
    if (!release.isNull()) {
        object.insert(QStringLiteral("sequence"), QString::number(release.sequence()));
        object.insert(QStringLiteral("descriptionSha256"),
                      QString::fromLatin1(release.descriptionSha256()));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool UpdateJournal::fromJson(const QByteArray &json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    if (object.value(QStringLiteral("format")).toInt() != FormatVersion)
        return false;
    bool ok = true;
    state = enumFromName<State>(object.value(QStringLiteral("state")).toString(), StateNames, &ok);
    // Written absolute; anything else would resolve against whatever the current folder is.
    const QString cachePath = object.value(QStringLiteral("cacheDir")).toString();
    // Cleaned: QDir keeps a trailing "//" as "/", so a journal written again would differ.
    cacheDir = QDir(QDir::cleanPath(cachePath));
    const QJsonValue recordValue = object.value(QStringLiteral("record"));
    writesRecord = recordValue.isString();
    record = QByteArray::fromBase64(recordValue.toString().toLatin1());
    entries.clear();
    Sha256List digests;
    const QJsonArray list = object.value(QStringLiteral("entries")).toArray();
    for (const QJsonValue &value : list)
        entries.append(entryFromJson(value.toObject(), &digests, &ok));
    // Absent in the journal of an unsigned release; the digest also in one of an older updater.
    const qint64 sequence = object.value(QStringLiteral("sequence")).toString().toLongLong();
    const QByteArray descriptionSha256 =
        object.value(QStringLiteral("descriptionSha256")).toString().toLatin1();
    release = sequence > 0 ? VerifiedRelease::restored(sequence, descriptionSha256, digests)
                           : VerifiedRelease();
    return ok && QDir::isAbsolutePath(cachePath);
}
