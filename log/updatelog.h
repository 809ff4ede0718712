#pragma once

#include <QLoggingCategory>

// The steps of a run, one category per concern. Silent by default on standard error
// (QT_LOGGING_RULES="update.*=true" shows them); the run's log file (UpdateLog) takes every
// message of these categories but debug ones.
Q_DECLARE_LOGGING_CATEGORY(lcRun)   // update.run: mode, configuration, attempts, outcome
Q_DECLARE_LOGGING_CATEGORY(lcNet)   // update.net: each request and its answer
Q_DECLARE_LOGGING_CATEGORY(lcFetch) // update.fetch: the cache: found, resumed, stored
Q_DECLARE_LOGGING_CATEGORY(lcCheck) // update.check: signatures, lists, file digests
Q_DECLARE_LOGGING_CATEGORY(lcApply) // update.apply: files moved, undone, recovered
