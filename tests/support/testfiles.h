#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files as the tests make and check them, written and read apart from the code under test.

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// Writes the file anew, creating its folders. It is readable by everyone, as a file that
// nginx serves must be (its workers do not run as the test's user).
bool writeFile(const QString &path, const QByteArray &bytes);
// The same for `relativePath` below `dir`.
bool writeFile(const QString &dir, const QString &relativePath, const QByteArray &bytes);

// A runnable copy of the program `from` at `to`. Bytes in `suffix` are appended: the copy
// still runs but is a different file.
bool copyExecutable(const QString &from, const QString &to, const QByteArray &suffix = {});

// Every file below `dir` as a relative path, hidden ones included, sorted.
QStringList filesBelow(const QString &dir);

// `size` bytes that do not compress, the same for the same seed.
QByteArray randomBytes(int size, quint32 seed = 1);
