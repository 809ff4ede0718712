#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What one run of a command-line tool left.
struct ToolRun
{
    int exitCode = -1; // -1: crashed or did not finish in time
    QByteArray output;
    QByteArray errors;
};

// Runs `program` with `arguments` and waits for it.
ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

// Runs the built update-publish.
ToolRun runPublish(const QStringList &arguments);

// True when `diff -r` finds the two folders equal byte for byte (`excludes` as diff -x).
bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes = {},
                  QByteArray *differences = nullptr);

// Writes a file below `root`, creating its folders.
bool putFile(const QString &root, const QString &relativePath, const QByteArray &bytes);
QByteArray fileBytes(const QString &path);
