#include "consolereport.h"

#include "consoleoutput.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

QByteArray consoleReportBytes(bool success, bool update, const QString &errormsg)
{
    QJsonObject report;
    report.insert(QStringLiteral("success"), success);
    report.insert(QStringLiteral("update"), update);
    report.insert(QStringLiteral("errormsg"), errormsg);
    return QJsonDocument(report).toJson(QJsonDocument::Compact);
}

void printConsoleReport(bool success, bool update, QString errormsg)
{
    const QByteArray bytes = consoleReportBytes(success, update, errormsg);
    if (writeToConsoleWindow(bytes))
        return;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
