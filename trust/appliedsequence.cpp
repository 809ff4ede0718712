#include "appliedsequence.h"

#include "updatenames.h"

#include <QFile>

namespace {

// Large enough for any decimal qint64 and a line end; a bigger file is no record of ours.
constexpr qint64 MaximumSize = 64;

} // namespace

QString appliedSequencePath(const QDir &installDir)
{
    return installDir.absoluteFilePath(UpdateNames::appliedSequence());
}

qint64 readAppliedSequence(const QDir &installDir, bool *valid)
{
    QFile file(appliedSequencePath(installDir));
    bool ok = !file.exists();
    qint64 sequence = 0;
    if (!ok && file.open(QIODevice::ReadOnly) && file.size() <= MaximumSize) {
        sequence = file.readAll().trimmed().toLongLong(&ok);
        ok = ok && sequence > 0;
        if (!ok)
            sequence = 0;
    }
    if (valid)
        *valid = ok;
    return sequence;
}

QByteArray appliedSequenceBytes(qint64 sequence)
{
    return QByteArray::number(sequence) + '\n';
}
