#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

// The floor of a signed release: the highest Sequence whose description verified here (even
// when its files then failed), and the SHA-256 of that update.ini's bytes. Kept as
// UpdateNames::appliedSequence() beside the record in the installation folder. A description
// with a lower Sequence is a rollback; one with the same Sequence must be the same bytes.
struct SequenceRecord
{
    qint64 sequence = 0;
    QByteArray descriptionSha256; // lower-case hex; empty in a record of an older updater
};

QString appliedSequencePath(const QDir &installDir);

// Nothing recorded gives Sequence 0. A file that cannot be read or is not "N" or "N HEX" (N
// positive, HEX a SHA-256) also gives 0, with `valid` false: the record only ever protects,
// it must not strand a client whose record was damaged.
SequenceRecord readSequenceRecord(const QDir &installDir, bool *valid = nullptr);
qint64 readAppliedSequence(const QDir &installDir, bool *valid = nullptr);

// The file's content: the number in decimal, a space and the digest when there is one, LF.
QByteArray sequenceRecordBytes(const SequenceRecord &record);
QByteArray appliedSequenceBytes(qint64 sequence);

// Replaces the record atomically through the file layer; never with a lower Sequence than
// the one recorded, and not at all when it holds these bytes already.
bool writeSequenceRecord(const QDir &installDir, const SequenceRecord &record);
