// CacheFill's packed copies: which one each file travels as, and the whole file in place of
// one that failed.
#include "cachefill.h"

#include "fileops.h"
#include "filetransfer.h"
#include "packedcopyfetch.h"
#include "updatelog.h"

// A patch needs its base where the comparison found it: a regular file in the installation.
void CacheFill::planPackedCopies()
{
    m_packed.resize(m_files.size());
    if (m_options.packs.isEmpty())
        return;
    const QString installDir = m_installDir.absolutePath();
    for (int index = 0; index < m_files.size(); ++index) {
        const ManifestEntry &entry = m_files.at(index);
        const QByteArray installed = fileops::isRegularFileInside(installDir, entry.path)
                                         ? m_options.installedMd5.value(entry.path)
                                         : QByteArray();
        m_packed[index] = packedcopy::choose(m_options.packs, entry, installed);
    }
}

qint64 CacheFill::plannedBytes(int index) const
{
    const std::optional<PackedCopy> &packed = m_packed.at(index);
    return packed ? packed->size : m_files.at(index).size;
}

FileTransfer *CacheFill::makeTransfer(const ManifestEntry &entry, const QFileInfo &target,
                                      const std::optional<PackedCopy> &packed)
{
    if (!packed)
        return new FileTransfer(entry, target, &m_partials, m_options.release, this);
    qCInfo(lcFetch, "%s: fetching the %s, %lld bytes instead of %lld", qUtf8Printable(entry.path),
           packedcopy::kindName(*packed), packed->size, entry.size);
    const bool patch = packed->kind == PackedCopy::Kind::Patch;
    return new FileTransfer(entry, *packed,
                            patch ? m_installDir.absoluteFilePath(entry.path) : QString(), target,
                            &m_partials, m_options.release, this);
}

// Whatever went wrong with a packed copy, the whole file is fetched in its place, once: the
// bytes that did travel count as done, and the whole file is added to what is to come.
bool CacheFill::fetchWhole(const FileTransfer *failed)
{
    const ManifestEntry &entry = failed->entry();
    qCInfo(lcFetch, "%s: the %s failed (%s); fetching the whole file", qUtf8Printable(entry.path),
           packedcopy::kindName(*failed->packedCopy()), qUtf8Printable(failed->errorString()));
    m_bytesDone += failed->bytesReceived();
    m_bytesTotal += entry.size - failed->transferSize() + failed->bytesReceived();
    return sendRequest(entry, failed->target(), std::nullopt);
}
