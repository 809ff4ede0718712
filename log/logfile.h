#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The run's log for a support engineer: "update.log" in a folder of its own (the driver
// gives one in the cache that no listed file can take), one line per message of the update.*
// categories. It is bounded: past RotateBytes the file becomes "update.log.1" (one previous
// file is kept) and a new one starts. Nothing about it can fail an update: a log that cannot
// be written is skipped.
//
// While an UpdateLog exists it owns the process's message handler and category filter:
// messages of the update.* categories go to the log, and to standard error only when
// QT_LOGGING_RULES (or the categories' defaults) enable them; all others pass unchanged.
// At most one exists at a time.
class UpdateLog
{
public:
    static constexpr qint64 RotateBytes = 1024 * 1024;
    // What is held in memory until open(); later lines are dropped.
    static constexpr int HeldBytesLimit = 256 * 1024;

    UpdateLog();
    ~UpdateLog();
    UpdateLog(const UpdateLog &) = delete;
    UpdateLog &operator=(const UpdateLog &) = delete;

    // Starts writing into `folder` (made when missing), with the lines held so far first.
    // Until then, and after a failure, lines are only held.
    bool open(const QString &folder);

    static QString fileName();
    static QString previousFileName();

    // Used by the message handler.
    void write(const QByteArray &line);

private:
    bool openFile();
    void rotate();

    QString m_path;
    QFile m_file;
    QByteArray m_held;
};
