#pragma once

#include <QString>

// The run mode, from the first command-line argument (letter case ignored): "console",
// "restart", or anything else (windowed).
enum class RunMode { Windowed, Console, Restart };

RunMode runModeOf(const QString &argument);
