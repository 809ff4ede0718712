#pragma once

#include "toolrun.h"

// Shared by the portable and the platform parts of toolrun.cpp.
namespace toolrun {

// Runs `program` as a process of this platform and waits for it.
ToolRun runProcess(const QString &program, const QStringList &arguments, int timeoutMs);

// The options of `diff -r` with `excludes` as -x, before the two folders.
QStringList diffOptions(const QStringList &excludes);

} // namespace toolrun
