#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QProcess;

// One start of the stand-in host, as it recorded it.
struct HostStart
{
    QStringList arguments;
    QString workingDir;
};

// What a finished updater process left.
struct UpdaterRun
{
    bool finished = false; // false: it was still running at the time limit (then killed)
    int exitCode = -1;
    QByteArray output; // standard output
    QByteArray errors; // standard error
};

// The message of the run's last console report; empty when it reported success.
QString lastReportedError(const UpdaterRun &run);

class QTextCodec;

// A throw-away installation in a temporary folder: a copy of the real `update`
// executable, the stand-in host as "Host.exe" beside it, and a "system.cfg".
//
// With UPDATE_WINDOWS_BUILD set to the Windows build folder, the Linux build of a test
// installs update.exe and the Windows stand-in host instead and runs them under Wine
// (WINEPREFIX as set by the caller): the end-to-end suite drives the Windows program.
class TestInstall
{
public:
    // `appSubdir` is the folder of the updater below the root, e.g. "app" or "app/bin".
    explicit TestInstall(const QString &appSubdir = QStringLiteral("app"));

    bool isValid() const { return m_valid; }
    QString rootPath() const { return m_root.path(); }
    QString appDir() const { return m_appDir; }
    QString updaterPath() const;
    QString hostPath() const; // the stand-in, "Host.exe" in appDir

    // Writes "system.cfg" in appDir with the keys of section "Update".
    void writeConfig(const QMap<QString, QString> &updateKeys) const;
    void writeConfigText(const QByteArray &text) const;

    // Variables to set in the updater's environment; a null value takes one out.
    void setEnvironment(const QMap<QString, QString> &variables) { m_environment = variables; }

    // Runs the updater as a real process and waits for it (killed after `timeoutMs`).
    UpdaterRun run(const QStringList &arguments, int timeoutMs = 60000,
                   const QString &workingDir = QString()) const;
    // Starts it without waiting; the caller owns the process.
    QProcess *start(const QStringList &arguments, const QString &workingDir = QString()) const;

    // Every start of the stand-in host at `hostPath` (default: this install's), in order.
    QList<HostStart> hostStarts(const QString &hostPath = QString()) const;

    // The Windows build folder when the Windows programs run under Wine, else empty.
    static QString windowsBuild();
    // Prepares `process` to run a program of the build under test, `program` as built.
    static void setUpProgram(QProcess *process, const QString &program,
                             const QStringList &arguments);
    // The encoding of the list's paths on the clients under test: the local 8-bit
    // encoding, or under Wine the ANSI code page that LC_ALL gives.
    static QTextCodec *clientCodec();

    // Copies the stand-in host to `path` (for an "ExeName" elsewhere).
    static bool placeStandInHost(const QString &path);

    // Runs the updater as the unprivileged user "nobody" (setpriv), for faults of permissions
    // that root never meets. unprivilegedReason() is empty where that is possible (Linux, the
    // test run by root, setpriv at hand), else says why not.
    void setUnprivileged(bool unprivileged) { m_unprivileged = unprivileged; }
    static QString unprivilegedReason();
    // Gives `path` to "nobody" and lets everybody into the folders above it up to the root.
    bool giveToUnprivileged(const QString &path) const;

private:
    QTemporaryDir m_root;
    QString m_appDir;
    bool m_valid = false;
    bool m_unprivileged = false;
    QMap<QString, QString> m_environment;
};
