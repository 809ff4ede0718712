#pragma once

#include "toolrun.h"

// Runs the built update-publish (update-publish.exe under Wine when the Windows build is
// under test).
ToolRun runPublish(const QStringList &arguments);
