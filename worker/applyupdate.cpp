#include "cdownloadthread.h"

#include <QFile>

#include <cstdio>

// Moves every downloaded file into the installation, in list order, keeping each replaced
// file beside it as NAME.old. Stops at the first failure; what was applied stays applied.
void CDownloadThread::applyUpdate()
{
    for (const ManifestEntry &entry : qAsConst(m_files)) {
        QString error;
        if (!applyEntry(entry, &error)) {
            fail(QFileInfo(m_installDir.absoluteFilePath(entry.path)), error);
            return;
        }
    }
    succeed();
}

bool CDownloadThread::applyEntry(const ManifestEntry &entry, QString *error)
{
    const QFileInfo installed(m_installDir.absoluteFilePath(entry.path));
    const QFileInfo old(m_installDir.absoluteFilePath(entry.path + QLatin1String(".old")));
    const QString downloaded = m_cacheDir.absoluteFilePath(entry.path);
    const bool replacing = installed.exists() || installed.isSymLink();
    if (replacing) {
        if ((old.exists() || old.isSymLink()) && !QFile::remove(old.absoluteFilePath())) {
            *error = tr("删除文件%1失败").arg(old.fileName());
            return false;
        }
        if (std::rename(QFile::encodeName(installed.absoluteFilePath()).constData(),
                        QFile::encodeName(old.absoluteFilePath()).constData()) != 0) {
            *error =
                tr("重命名%1为%2失败").arg(installed.absoluteFilePath(), old.absoluteFilePath());
            return false;
        }
    } else if (!installed.absoluteDir().exists() && !QDir().mkpath(installed.absolutePath())) {
        *error = tr("创建目录%1失败").arg(installed.absolutePath());
        return false;
    }
    if (!QFile::rename(downloaded, installed.absoluteFilePath())) {
        // Put the installed file back rather than leave its path empty.
        if (replacing)
            std::rename(QFile::encodeName(old.absoluteFilePath()).constData(),
                        QFile::encodeName(installed.absoluteFilePath()).constData());
        *error = tr("覆盖文件%1失败").arg(installed.fileName());
        return false;
    }
    // The cache file was created with default permissions; a replaced executable (the
    // updater itself, on platforms with an execute bit) must stay executable.
    if (replacing)
        QFile::setPermissions(installed.absoluteFilePath(),
                              QFile::permissions(old.absoluteFilePath()));
    return true;
}
