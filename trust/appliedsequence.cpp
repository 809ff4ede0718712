#include "appliedsequence.h"

#include "fileops.h"
#include "updatenames.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// Large enough for any decimal qint64, a digest and a line end; a bigger file is no record of
// ours.
constexpr qint64 MaximumSize = 128;

bool parseRecord(const QByteArray &content, SequenceRecord *record)
{
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{64}$"));
    const QList<QByteArray> fields = content.simplified().split(' ');
    bool ok = false;
    record->sequence = fields.value(0).toLongLong(&ok);
    if (fields.size() == 2)
        record->descriptionSha256 = fields.at(1);
    return ok && record->sequence > 0 && fields.size() <= 2 &&
           (fields.size() == 1 || digest.match(QString::fromLatin1(fields.at(1))).hasMatch());
}

} // namespace

QString appliedSequencePath(const QDir &installDir)
{
    return installDir.absoluteFilePath(UpdateNames::appliedSequence());
}

SequenceRecord readSequenceRecord(const QDir &installDir, bool *valid)
{
    QFile file(appliedSequencePath(installDir));
    bool ok = !file.exists();
    SequenceRecord record;
    if (!ok && file.open(QIODevice::ReadOnly) && file.size() <= MaximumSize)
        ok = parseRecord(file.readAll(), &record);
    if (!ok)
        record = SequenceRecord();
    if (valid)
        *valid = ok;
    return record;
}

qint64 readAppliedSequence(const QDir &installDir, bool *valid)
{
    return readSequenceRecord(installDir, valid).sequence;
}

QByteArray sequenceRecordBytes(const SequenceRecord &record)
{
    QByteArray bytes = QByteArray::number(record.sequence);
    if (!record.descriptionSha256.isEmpty())
        bytes += ' ' + record.descriptionSha256.toLower();
    return bytes + '\n';
}

QByteArray appliedSequenceBytes(qint64 sequence)
{
    return sequenceRecordBytes({sequence, QByteArray()});
}

bool writeSequenceRecord(const QDir &installDir, const SequenceRecord &record)
{
    const SequenceRecord current = readSequenceRecord(installDir);
    if (record.sequence < current.sequence)
        return true; // the floor never moves down
    // A digest already recorded for this Sequence stays (a journal of an older updater has none).
    if (record.sequence == current.sequence &&
        (record.descriptionSha256.isEmpty() ||
         record.descriptionSha256.toLower() == current.descriptionSha256))
        return true;
    return fileops::writeAtomically(appliedSequencePath(installDir), sequenceRecordBytes(record));
}
