#include "applytransaction.h"

#include "fileops.h"

#include <QCoreApplication>
#include <QFile>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CDownloadThread", text);
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

} // namespace

ApplyTransaction::ApplyTransaction(QDir installDir, UpdateJournal journal)
    : m_installDir(installDir), m_journal(journal)
{}

UpdateJournal ApplyTransaction::plan(const QDir &cacheDir, const QDir &installDir,
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

ApplyTransaction::Paths ApplyTransaction::pathsOf(int index) const
{
    const QString path = m_journal.entries.at(index).file.path;
    const QFileInfo installed(m_installDir.absoluteFilePath(path));
    const QString name = installed.absoluteFilePath();
    return {name,
            name + QStringLiteral(".old"),
            name + QStringLiteral(".~od"),
            name + QStringLiteral(".~pv"),
            installed.absolutePath() + QStringLiteral("/.~nw") + QString::number(index),
            m_journal.cacheDir.absoluteFilePath(path)};
}

bool ApplyTransaction::run(QString *error, QFileInfo *failedFile)
{
    if (m_journal.entries.isEmpty()) { // nothing to swap: straight to the end
        m_journal.state = UpdateJournal::State::Commit;
        finish();
        return true;
    }
    m_journal.state = UpdateJournal::State::Apply;
    if (!m_journal.write(m_installDir)) {
        *error = journalError();
        *failedFile = QFileInfo(UpdateJournal::pathIn(m_installDir));
        return false;
    }
    for (int i = 0; i < m_journal.entries.size(); ++i) {
        if (!applyEntry(i, true, error)) {
            *failedFile = QFileInfo(pathsOf(i).installed);
            abandon();
            return false;
        }
    }
    if (!syncFolders() || !enter(UpdateJournal::State::Commit)) {
        *error = journalError();
        *failedFile = QFileInfo(UpdateJournal::pathIn(m_installDir));
        abandon();
        return false;
    }
    // Past this point the update counts as applied; what is left is done by the next run.
    QString commitError;
    if (commitAll(&commitError))
        finish();
    return true;
}

// Safe to repeat: each step notices what an interrupted earlier try already did.
bool ApplyTransaction::applyEntry(int index, bool swap, QString *error)
{
    const JournalEntry &entry = m_journal.entries.at(index);
    const Paths paths = pathsOf(index);
    if (entry.previous != JournalEntry::Previous::None) {
        const fileops::Kind old = fileops::kindOf(paths.old);
        if (old == fileops::Kind::Folder ||
            (old != fileops::Kind::Missing && !fileops::replace(paths.old, paths.kept))) {
            *error = tr("删除文件%1失败").arg(QFileInfo(paths.old).fileName());
            return false;
        }
        if (!backUp(entry, paths)) {
            *error = tr("重命名%1为%2失败").arg(paths.installed, paths.old);
            return false;
        }
    } else {
        const QFileInfo installed(paths.installed);
        if (!installed.absoluteDir().exists() && !QDir().mkpath(installed.absolutePath())) {
            *error = tr("创建目录%1失败").arg(installed.absolutePath());
            return false;
        }
    }
    if (swap && !swapIn(entry, paths)) {
        *error = entryError(index);
        return false;
    }
    return true;
}

// The previous version gets a second name. A regular file keeps its own name all along;
// anything else, and the running program on Windows, is moved aside.
bool ApplyTransaction::backUp(const JournalEntry &entry, const Paths &paths) const
{
    if (fileops::exists(paths.previous))
        return true; // only ever appears whole
    if (entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(paths.installed) == fileops::Kind::File &&
        !fileops::isRunningImage(paths.installed)) {
        fileops::remove(paths.staged);
        return fileops::linkOrCopy(paths.installed, paths.previous, paths.staged);
    }
    return fileops::replace(paths.installed, paths.previous);
}

bool ApplyTransaction::swapIn(const JournalEntry &entry, const Paths &paths) const
{
    if (!fileops::remove(paths.staged) || !fileops::linkOrCopy(paths.cached, paths.staged))
        return false;
    // Permissions carry over only from a regular file (not from a link or a folder).
    if (entry.previous == JournalEntry::Previous::File &&
        fileops::kindOf(paths.previous) == fileops::Kind::File)
        QFile::setPermissions(paths.staged, QFile::permissions(paths.previous));
    return fileops::replace(paths.staged, paths.installed);
}

bool ApplyTransaction::undoEntry(int index) const
{
    const JournalEntry &entry = m_journal.entries.at(index);
    const Paths paths = pathsOf(index);
    if (entry.previous == JournalEntry::Previous::None) {
        if (fileops::kindOf(paths.installed) != fileops::Kind::Folder &&
            !fileops::remove(paths.installed))
            return false;
        removeCreatedFolders(entry, paths);
        return removeStaged(paths);
    }
    const fileops::Kind previous = fileops::kindOf(paths.previous);
    if (previous != fileops::Kind::Missing) {
        // A folder cannot be renamed over the new file; that goes first.
        if (previous != fileops::Kind::File && !fileops::remove(paths.installed))
            return false;
        if (!fileops::replace(paths.previous, paths.installed))
            return false;
    }
    if (!removeStaged(paths))
        return false;
    return !fileops::exists(paths.kept) || fileops::replace(paths.kept, paths.old);
}

// A folder at the staged name was in the way, not made by the update: it stays.
bool ApplyTransaction::removeStaged(const Paths &paths) const
{
    return fileops::kindOf(paths.staged) == fileops::Kind::Folder || fileops::remove(paths.staged);
}

void ApplyTransaction::removeCreatedFolders(const JournalEntry &entry, const Paths &paths) const
{
    if (entry.createdFolder.isEmpty())
        return;
    QString folder = QFileInfo(paths.installed).absolutePath();
    const QString top = QFileInfo(entry.createdFolder).absoluteFilePath();
    while (folder.startsWith(top) && fileops::removeEmptyFolder(folder) && folder != top)
        folder = QFileInfo(folder).absolutePath();
}

bool ApplyTransaction::commitEntry(int index) const
{
    const Paths paths = pathsOf(index);
    if (m_journal.entries.at(index).previous != JournalEntry::Previous::None) {
        if (fileops::exists(paths.previous) && !fileops::replace(paths.previous, paths.old))
            return false;
        if (!fileops::remove(paths.kept))
            return false;
    }
    return fileops::kindOf(paths.cached) != fileops::Kind::File || fileops::remove(paths.cached);
}

QString ApplyTransaction::entryError(int index) const
{
    return tr("覆盖文件%1失败").arg(QFileInfo(pathsOf(index).installed).fileName());
}

QString ApplyTransaction::journalError() const
{
    return tr("更新文件%1写入失败").arg(QFileInfo(UpdateJournal::pathIn(m_installDir)).fileName());
}
