#include "entryswap.h"

#include "fileops.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CDownloadThread", text);
}

} // namespace

EntrySwap::EntrySwap(const QDir &installDir, const QDir &cacheDir, const JournalEntry &entry,
                     int index)
    : m_entry(entry)
{
    const QFileInfo installed(installDir.absoluteFilePath(entry.file.path));
    m_installed = installed.absoluteFilePath();
    m_old = m_installed + UpdateNames::oldSuffix();
    m_kept = m_installed + UpdateNames::keptOldSuffix();
    m_previous = m_installed + UpdateNames::previousSuffix();
    m_staged = installed.absolutePath() + QLatin1Char('/') + UpdateNames::stagedName(index);
    m_cached = cacheDir.absoluteFilePath(entry.file.path);
}

bool EntrySwap::apply(bool swap, QString *error) const
{
    if (m_entry.previous != JournalEntry::Previous::None) {
        const fileops::Kind old = fileops::kindOf(m_old);
        if (old == fileops::Kind::Folder ||
            (old != fileops::Kind::Missing && !fileops::replace(m_old, m_kept))) {
            *error = tr("删除文件%1失败").arg(QFileInfo(m_old).fileName());
            return false;
        }
        if (!backUp()) {
            *error = tr("重命名%1为%2失败").arg(m_installed, m_old);
            return false;
        }
    } else {
        const QFileInfo installed(m_installed);
        if (!installed.absoluteDir().exists() && !QDir().mkpath(installed.absolutePath())) {
            *error = tr("创建目录%1失败").arg(installed.absolutePath());
            return false;
        }
    }
    if (swap && !swapIn()) {
        *error = failure();
        return false;
    }
    qCInfo(lcApply, "%s: %s", qUtf8Printable(m_entry.file.path),
           swap ? "new version in place" : "new version was in place already");
    return true;
}

// The previous version gets a second name. A regular file keeps its own name all along;
// anything else, and the running program on Windows, is moved aside.
bool EntrySwap::backUp() const
{
    if (fileops::exists(m_previous))
        return true; // only ever appears whole
    if (m_entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(m_installed) == fileops::Kind::File &&
        !fileops::isRunningImage(m_installed)) {
        fileops::remove(m_staged); // a left-over would make the copy below fail
        return fileops::linkOrCopy(m_installed, m_previous, m_staged);
    }
    return fileops::replace(m_installed, m_previous);
}

bool EntrySwap::swapIn() const
{
    if (!fileops::remove(m_staged) || !fileops::linkOrCopy(m_cached, m_staged))
        return false;
    // Permissions carry over only from a regular file (not from a link or a folder). Not
    // checked: the new file then keeps its own.
    if (m_entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(m_previous) == fileops::Kind::File)
        QFile::setPermissions(m_staged, QFile::permissions(m_previous));
    return fileops::replace(m_staged, m_installed);
}

bool EntrySwap::undo() const
{
    if (m_entry.previous == JournalEntry::Previous::None) {
        if (fileops::kindOf(m_installed) != fileops::Kind::Folder && !fileops::remove(m_installed))
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
    while (folder.startsWith(top) && fileops::removeEmptyFolder(folder) && folder != top)
        folder = QFileInfo(folder).absolutePath();
}

bool EntrySwap::commit() const
{
    if (m_entry.previous != JournalEntry::Previous::None) {
        if (fileops::exists(m_previous) && !fileops::replace(m_previous, m_old))
            return false;
        if (!fileops::remove(m_kept))
            return false;
    }
    return fileops::kindOf(m_cached) != fileops::Kind::File || fileops::remove(m_cached);
}

QString EntrySwap::failure() const
{
    return tr("覆盖文件%1失败").arg(QFileInfo(m_installed).fileName());
}
