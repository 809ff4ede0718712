#pragma once

#include "publishrun.h"
#include "testfiles.h"

#include <QDir>
#include <QObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A release folder, a server root and key pairs in a temporary folder, and update-publish
// run on them the way a release engineer signs and checks releases.
class SigningFixture : public QObject
{
protected:
    // A release of two files and the key pair "a".
    bool setUp()
    {
        m_dir.reset(new QTemporaryDir);
        return m_dir->isValid() &&
               writeFile(path(QStringLiteral("release")), QStringLiteral("doc/abc.txt"), "abc") &&
               writeFile(path(QStringLiteral("release")), QStringLiteral("bin/host.dll"),
                         QByteArray(70000, 'h')) &&
               keygen(QStringLiteral("a")).exitCode == 0;
    }

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString root() const { return path(QStringLiteral("root")); }
    QString keyFile(const QString &name) const
    {
        return path(name + QStringLiteral("/update-signing.key"));
    }
    ToolRun keygen(const QString &name) const
    {
        return runPublish({QStringLiteral("--keygen"), path(name)});
    }
    ToolRun publish(const QString &folder, const QStringList &extra) const
    {
        return runPublish(QStringList{path(QStringLiteral("release")), root(),
                                      QStringLiteral("--folder"), folder} +
                          extra);
    }
    ToolRun publishSigned(const QString &folder, const QStringList &extra = {}) const
    {
        return publish(folder,
                       QStringList{QStringLiteral("--sign"), keyFile(QStringLiteral("a"))} + extra);
    }
    ToolRun verify(const QString &keyName = QStringLiteral("a")) const
    {
        return runPublish({QStringLiteral("--verify"), root(), QStringLiteral("--public-key"),
                           path(keyName + QStringLiteral("/update-signing.pub"))});
    }
    qint64 sequence() const
    {
        return QSettings(root() + QStringLiteral("/update.ini"), QSettings::IniFormat)
            .value(QStringLiteral("Release/Sequence"))
            .toLongLong();
    }

    QScopedPointer<QTemporaryDir> m_dir;
};
