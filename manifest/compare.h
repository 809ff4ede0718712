#pragma once

#include "manifest.h"

#include <QDir>

// The entries of `server` whose installed file is out of date. The record of the last
// applied list ("update_md5.info" in `installDir`) is trusted before any installed file.
// When `installedMd5` is given, it receives the digest text of what is installed at each
// outdated path as the comparison found it: the record's, or the file's own (none for a
// path that holds no readable regular file).
Manifest compareWithInstalled(Manifest server, QDir installDir,
                              QMap<QString, QByteArray> *installedMd5 = nullptr);
