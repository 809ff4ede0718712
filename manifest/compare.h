#pragma once

#include "manifest.h"

#include <QDir>

// The entries of `server` whose installed file is out of date. The record of the last
// applied list ("update_md5.info" in `installDir`) is trusted before any installed file.
Manifest compareWithInstalled(Manifest server, QDir installDir);
