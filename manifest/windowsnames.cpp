#include "windowsnames.h"

#include "fileops.h"

#include <QStringList>

namespace {

// Windows opens the device, not a file, for these base names, whatever follows the first
// dot. The superscript digits are the ones Windows also counts as port numbers.
bool isDeviceName(const QString &name)
{
    QString base = name.left(name.indexOf(QLatin1Char('.'))).toUpper();
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    static const QStringList devices = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                        QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                        QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (devices.contains(base))
        return true;
    if (base.size() != 4 ||
        !(base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar port = base.at(3);
    return (port >= QLatin1Char('0') && port <= QLatin1Char('9')) || port == QChar(0x00B9) ||
           port == QChar(0x00B2) || port == QChar(0x00B3);
}

QChar forbiddenCharacter(const QString &name)
{
    static const QString forbidden = QStringLiteral("<>:\"|?*");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || forbidden.contains(c))
            return c;
    }
    return QChar();
}

QString nameProblem(const QString &name)
{
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("ends in a dot or a space, which Windows drops");
    if (isDeviceName(name))
        return QStringLiteral("is a device name on Windows");
    const QChar forbidden = forbiddenCharacter(name);
    if (!forbidden.isNull())
        return QStringLiteral("holds the character U+%1, which Windows forbids in names")
            .arg(forbidden.unicode(), 4, 16, QLatin1Char('0'));
    return QString();
}

} // namespace

bool isWindowsSafePath(const QString &path, QString *reason)
{
    const QStringList names = path.split(QLatin1Char('/'));
    for (const QString &name : names) {
        if (name.isEmpty() || name == QLatin1String("."))
            continue;
        const QString problem = nameProblem(name);
        if (problem.isEmpty())
            continue;
        if (reason)
            *reason = QStringLiteral("\"%1\" in \"%2\" %3").arg(name, path, problem);
        return false;
    }
    return true;
}

bool isShortNameAlias(const QDir &installDir, const QString &path)
{
    QString prefix;
    for (const QString &name : path.split(QLatin1Char('/'))) {
        prefix += prefix.isEmpty() ? name : QLatin1Char('/') + name;
        if (!name.contains(QLatin1Char('~')))
            continue;
        const QString stored = fileops::storedName(installDir.absoluteFilePath(prefix));
        if (!stored.isEmpty() && stored.compare(name, Qt::CaseInsensitive) != 0)
            return true;
    }
    return false;
}
