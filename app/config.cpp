#include "config.h"

#include "fetchoptions.h"
#include "fileops.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace {

// The keys of system.cfg, matched without regard to case as QSettings does on Windows: on
// other platforms it compares INI keys exactly, and a "publickey" would be silently unread.
// The spelling as documented wins over another one of the same key.
class ConfigKeys
{
public:
    explicit ConfigKeys(const QSettings &settings)
        : m_settings(settings), m_keys(settings.allKeys())
    {}

    bool contains(const QString &key) const { return !stored(key).isNull(); }
    QVariant value(const QString &key, const QVariant &fallback = QVariant()) const
    {
        const QString found = stored(key);
        return found.isNull() ? fallback : m_settings.value(found);
    }

private:
    // The key of section "Update" as the file spells it; null when there is none.
    QString stored(const QString &key) const
    {
        const QString wanted = QStringLiteral("Update/") + key;
        if (m_keys.contains(wanted))
            return wanted;
        for (const QString &candidate : m_keys) {
            if (candidate.compare(wanted, Qt::CaseInsensitive) == 0)
                return candidate;
        }
        return QString();
    }

    const QSettings &m_settings;
    QStringList m_keys;
};

} // namespace

QString defaultCacheFolderName()
{
    return fileops::executableSuffix().isEmpty() ? QStringLiteral("update-cache")
                                                 : QStringLiteral("update");
}

UpdateConfig loadUpdateConfig(const QString &appDir)
{
    UpdateConfig config;
    config.appDir = QDir(appDir);
    const QSettings file(config.appDir.absoluteFilePath(QStringLiteral("system.cfg")),
                         QSettings::IniFormat);
    const ConfigKeys settings(file);
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
    config.publicKeys = settings.value(QStringLiteral("PublicKey")).toStringList();
    config.hasCaFile = settings.contains(QStringLiteral("CaFile"));
    const QString caFile =
        settings.value(QStringLiteral("CaFile")).toStringList().join(QLatin1Char(','));
    config.caFile = caFile.isEmpty() ? caFile : config.appDir.absoluteFilePath(caFile);
    config.http2 = switchFrom(settings.value(QStringLiteral("Http2")).toString(), false);
    // Over HTTP/2 the files share one connection; CacheFill keeps to MaxConnections until a
    // reply shows that the server speaks it.
    config.connections = connectionsFrom(settings.value(QStringLiteral("Connections")).toString(),
                                         config.http2 ? FetchOptions::MaxHttp2Streams
                                                      : FetchOptions::MaxConnections);
    config.hasProxy = settings.contains(QStringLiteral("Proxy"));
    config.proxy = settings.value(QStringLiteral("Proxy")).toStringList().join(QLatin1Char(','));
    config.patches = switchFrom(settings.value(QStringLiteral("Patches")).toString(), true);
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
    // Not checked: a folder that cannot be made shows up as the failure to store update.ini.
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

QDir cacheFolderOf(const UpdateConfig &config)
{
    // A relative "Cache" counts from the current folder, as in resolveFolders.
    return QDir(config.cacheDir.absolutePath());
}

int connectionsFrom(const QString &value, int limit)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^\\+?[0-9]+$"));
    const QString text = value.trimmed();
    if (!wholeNumber.match(text).hasMatch())
        return 1;
    bool fits = false;
    const qulonglong number = text.toULongLong(&fits); // too long to fit: far above the limit
    if (fits && number < 1)
        return 1;
    return fits && number < qulonglong(limit) ? int(number) : limit;
}

bool switchFrom(const QString &value, bool fallback)
{
    const QString text = value.trimmed();
    for (const char *on : {"true", "yes", "on", "1"}) {
        if (text.compare(QLatin1String(on), Qt::CaseInsensitive) == 0)
            return true;
    }
    for (const char *off : {"false", "no", "off", "0"}) {
        if (text.compare(QLatin1String(off), Qt::CaseInsensitive) == 0)
            return false;
    }
    return fallback;
}
