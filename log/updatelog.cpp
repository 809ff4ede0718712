#include "updatelog.h"

// Below every level we use: nothing reaches standard error unless the rules ask for it.
Q_LOGGING_CATEGORY(lcRun, "update.run", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcNet, "update.net", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcFetch, "update.fetch", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcCheck, "update.check", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcApply, "update.apply", QtCriticalMsg)
