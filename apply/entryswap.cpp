#include "entryswap.h"

#include "digest.h"
#include "fileops.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CDownloadThread", text);
}

// `folder` is `top` or lies below it.
bool isWithin(const QString &folder, const QString &top)
{
    return folder == top || folder.startsWith(top + QLatin1Char('/'));
}

} // namespace

EntrySwap::EntrySwap(const QDir &installDir, const QDir &cacheDir, const JournalEntry &entry,
                     int index, const QByteArray &sha256)
    : m_entry(entry), m_sha256(sha256)
{
    const QFileInfo installed(installDir.absoluteFilePath(entry.file.path));
    m_installed = installed.absoluteFilePath();
    m_old = m_installed + UpdateNames::oldSuffix();
    m_kept = m_installed + UpdateNames::keptOldSuffix();
    m_previous = m_installed + UpdateNames::previousSuffix();
    m_staged = installed.absolutePath() + QLatin1Char('/') + UpdateNames::stagedName(index);
    m_cached = cacheDir.absoluteFilePath(entry.file.path);
}

// NAME.~od only ever holds an earlier NAME.old that a commit could not remove: it goes whole.
// Elsewhere an empty folder goes too; one with content is not the updater's to delete.
bool EntrySwap::clearLeftOvers(QString *error) const
{
    for (const QString &name :
         {m_previous, m_kept, m_installed + fileops::temporarySuffix(), m_staged}) {
        const fileops::Kind kind = fileops::kindOf(name);
        if (kind == fileops::Kind::Missing)
            continue;
        qCInfo(lcApply, "%s: left over by an earlier run, removed", qUtf8Printable(name));
        bool removed = false;
        if (name == m_kept)
            removed = fileops::removeTree(name);
        else if (kind == fileops::Kind::Folder)
            removed = fileops::removeEmptyFolder(name);
        else
            removed = fileops::remove(name);
        if (!removed) {
            *error = tr("删除文件%1失败").arg(QFileInfo(name).fileName());
            return false;
        }
    }
    return true;
}

bool EntrySwap::prepare(QString *error) const
{
    if (m_entry.previous == JournalEntry::Previous::None) {
        const QFileInfo installed(m_installed);
        if (!installed.absoluteDir().exists() && !QDir().mkpath(installed.absolutePath())) {
            *error = tr("创建目录%1失败").arg(installed.absolutePath());
            return false;
        }
        return true;
    }
    // A folder at NAME.old is kept aside like a file, and goes with the commit.
    if (fileops::exists(m_old) && !fileops::replace(m_old, m_kept)) {
        *error = tr("删除文件%1失败").arg(QFileInfo(m_old).fileName());
        return false;
    }
    if (!backUp()) {
        *error = tr("重命名%1为%2失败").arg(m_installed, m_old);
        return false;
    }
    return true;
}

// The previous version gets a second name. A regular file keeps its own name all along;
// anything else, and the running program on Windows, is moved aside.
bool EntrySwap::backUp() const
{
    if (fileops::exists(m_previous))
        return true; // this update's own: it only ever appears whole
    if (m_entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(m_installed) == fileops::Kind::File &&
        !fileops::isRunningImage(m_installed)) {
        fileops::remove(m_staged); // a left-over would make the copy below fail
        return fileops::linkOrCopy(m_installed, m_previous, m_staged);
    }
    return fileops::replace(m_installed, m_previous);
}

// The staged file is checked after it is made: from then on only this user can change it,
// so the bytes checked are the bytes installed.
bool EntrySwap::swap(QString *error) const
{
    const bool fromFile = m_entry.previous == JournalEntry::Previous::File &&
                          fileops::kindOf(m_previous) == fileops::Kind::File;
    if (!fileops::remove(m_staged) || !fileops::stagePrivately(m_cached, m_staged)) {
        *error = failure();
        return false;
    }
    // Permissions carry over only from a regular file (not from a link or a folder). Not
    // checked: the new file then keeps its own.
    if (fromFile)
        fileops::copyPermissions(m_previous, m_staged);
    if (!isNewFile(m_staged)) {
        qCInfo(lcApply, "%s: the staged file is not the one checked", qUtf8Printable(m_staged));
        fileops::remove(m_staged); // a left-over is cleared by the next update
        *error = tr("更新文件%1校验不对").arg(QFileInfo(m_installed).fileName());
        return false;
    }
    if (!fileops::replace(m_staged, m_installed)) {
        *error = failure();
        return false;
    }
    // A read-only previous file (Windows) lost its attribute to the replace; the new file
    // carries the previous one's. Not checked: the backup's content is what counts.
    if (fromFile)
        fileops::copyPermissions(m_installed, m_previous);
    qCInfo(lcApply, "%s: new version in place", qUtf8Printable(m_entry.file.path));
    return true;
}

bool EntrySwap::isNewFile(const QString &path) const
{
    return fileMatchesEntry(path, m_entry.file, m_sha256);
}

bool EntrySwap::undo() const
{
    if (m_entry.previous == JournalEntry::Previous::None) {
        // Only this update's own file goes: one made there after a crash stays.
        if (isNewFile(m_installed) && !fileops::remove(m_installed))
            return false;
        removeCreatedFolders();
        return removeStaged();
    }
    const fileops::Kind previous = fileops::kindOf(m_previous);
    if (previous != fileops::Kind::Missing) {
        // A folder cannot be renamed over the new file; that goes first.
        if (previous != fileops::Kind::File && !fileops::remove(m_installed))
            return false;
        if (!fileops::replace(m_previous, m_installed))
            return false;
    } else if (!fileops::exists(m_installed) || isNewFile(m_installed)) {
        qCInfo(lcApply, "%s: the previous version is gone", qUtf8Printable(m_entry.file.path));
        return false;
    }
    if (!removeStaged())
        return false;
    return !fileops::exists(m_kept) || fileops::replace(m_kept, m_old);
}

// A folder at the staged name was in the way, not made by the update: it stays.
bool EntrySwap::removeStaged() const
{
    return fileops::kindOf(m_staged) == fileops::Kind::Folder || fileops::remove(m_staged);
}

// Only empty folders go: one that holds anything else stays.
void EntrySwap::removeCreatedFolders() const
{
    if (m_entry.createdFolder.isEmpty())
        return;
    QString folder = QFileInfo(m_installed).absolutePath();
    const QString top = QFileInfo(m_entry.createdFolder).absoluteFilePath();
    while (isWithin(folder, top) && fileops::removeEmptyFolder(folder) && folder != top)
        folder = QFileInfo(folder).absolutePath();
}

bool EntrySwap::commit() const
{
    if (m_entry.previous != JournalEntry::Previous::None) {
        if (fileops::exists(m_previous) && !fileops::replace(m_previous, m_old))
            return false;
        if (!fileops::removeTree(m_kept))
            qCInfo(lcApply, "%s could not be removed; the next update of it removes it",
                   qUtf8Printable(m_kept));
    }
    if (fileops::kindOf(m_cached) == fileops::Kind::File && !fileops::remove(m_cached))
        qCInfo(lcApply, "%s could not be removed from the cache", qUtf8Printable(m_cached));
    // The cached name may be a second link of the new file: a read-only one (Windows) lost
    // its attribute to the removal. Not checked: the content is what counts.
    if (m_entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(m_old) == fileops::Kind::File)
        fileops::copyPermissions(m_old, m_installed);
    return true;
}

QStringList EntrySwap::changedFolders() const
{
    QString folder = QFileInfo(m_installed).absolutePath();
    QStringList folders = {folder};
    if (m_entry.createdFolder.isEmpty())
        return folders;
    const QString top = QFileInfo(m_entry.createdFolder).absoluteFilePath();
    while (isWithin(folder, top) && folder != top) {
        folder = QFileInfo(folder).absolutePath();
        folders.append(folder);
    }
    folders.append(QFileInfo(top).absolutePath());
    return folders;
}

QString EntrySwap::failure() const
{
    return tr("覆盖文件%1失败").arg(QFileInfo(m_installed).fileName());
}
