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

// Runs `program` with `arguments` and waits for it. A tool of the machine (openssl, diff,
// sha256sum, ...) runs as itself on Linux and through Wine in the Windows build, where
// its standard error arrives merged into the output.
ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

// True when `diff -r` finds the two folders equal byte for byte (`excludes` as diff -x).
bool foldersEqual(const QString &a, const QString &b, const QStringList &excludes = {},
                  QByteArray *differences = nullptr);

// The file's SHA-256 as sha256sum prints it (64 hex digits); empty when it fails.
QByteArray sha256sum(const QString &path);
