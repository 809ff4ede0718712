#pragma once

#include <QByteArray>
#include <QString>

// The console report: compact JSON, members in key order, UTF-8 without escapes for
// non-ASCII text, no line break.
QByteArray consoleReportBytes(bool success, bool update, const QString &errormsg);

// Writes the report to standard output and flushes at once, so a reader of a pipe
// sees each report as soon as it is made.
void printConsoleReport(bool success, bool update, QString errormsg);
