#include "config.h"

#include <QFileInfo>
#include <QSettings>

QString defaultCacheFolderName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("update");
#else
    return QStringLiteral("update-cache");
#endif
}

UpdateConfig loadUpdateConfig(const QString &appDir)
{
    UpdateConfig config;
    config.appDir = QDir(appDir);
    QSettings settings(config.appDir.absoluteFilePath(QStringLiteral("system.cfg")),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Update"));
    config.url = settings.value(QStringLiteral("URL")).toString();
    config.downloadUrl = settings.value(QStringLiteral("DownLoadUrl")).toString();
    config.installDir = config.appDir;
    config.cacheDir = QDir(settings
                               .value(QStringLiteral("Cache"),
                                      config.appDir.absoluteFilePath(defaultCacheFolderName()))
                               .toString());
    const QString exeName =
        settings.value(QStringLiteral("ExeName"), QStringLiteral("Host.exe")).toString();
    // Relative to the program's folder, even when installDir later leaves a "bin" folder.
    config.exePath = config.appDir.absoluteFilePath(exeName);
    // QSettings reads a value with commas as a list: "PublicKey=OLD,NEW" is two keys.
    config.hasPublicKey = settings.contains(QStringLiteral("PublicKey"));
    config.publicKey =
        settings.value(QStringLiteral("PublicKey")).toStringList().join(QLatin1Char(','));
    config.hasCaFile = settings.contains(QStringLiteral("CaFile"));
    const QString caFile =
        settings.value(QStringLiteral("CaFile")).toStringList().join(QLatin1Char(','));
    config.caFile = caFile.isEmpty() ? caFile : config.appDir.absoluteFilePath(caFile);
    return config;
}

void ensureFolder(QDir &folder)
{
    if (folder.exists())
        return;
    const QString target = folder.absolutePath();
    QString level = target;
    while (!QDir(level).exists()) {
        const QString parent = QFileInfo(level).path();
        if (parent == level)
            break; // reached the root
        level = parent;
    }
    QDir(level).mkpath(QDir(level).relativeFilePath(target));
    folder.setPath(target);
}

void resolveFolders(UpdateConfig &config)
{
    config.installDir.makeAbsolute();
    ensureFolder(config.installDir);
    if (config.installDir.dirName().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0)
        config.installDir.cdUp();

    // A relative "Cache" counts from the current folder, not from the program's folder.
    config.cacheDir.makeAbsolute();
    ensureFolder(config.cacheDir);
}

QDir installFolderOf(const UpdateConfig &config)
{
    const QString folder = config.installDir.absolutePath();
    const bool inBin =
        QFileInfo(folder).fileName().compare(QLatin1String("bin"), Qt::CaseInsensitive) == 0;
    return QDir(inBin ? QFileInfo(folder).absolutePath() : folder);
}

UpdateDescription readUpdateDescription(const QString &path, const QString &url)
{
    QSettings ini(path, QSettings::IniFormat);
    UpdateDescription description;
    // A value that is not a number reads as 0: an optional update.
    description.updateType = ini.value(QStringLiteral("Summary/UpdateType"), 1).toInt();
    description.folder =
        ini.value(QStringLiteral("Version/Folder"), QStringLiteral("Base")).toString();
    description.version = ini.value(QStringLiteral("Version/Version")).toString();
    description.baseUrl = url + description.folder + QLatin1Char('/');
    description.listUrl = description.baseUrl + QStringLiteral("/md5.txt");
    return description;
}
