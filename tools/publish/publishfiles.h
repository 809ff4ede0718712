#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// File steps shared by the publishing steps.

// Served by web server workers that run as another user.
constexpr QFileDevice::Permissions PublicFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther;

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);
// Unlike QFile::rename this replaces an existing file (or moves a folder) in one step.
bool renamePath(const QString &from, const QString &to);
// Writes beside `path`, then renames over it: readers see the old or the new file whole.
bool replaceFile(const QString &path, const QByteArray &bytes);
