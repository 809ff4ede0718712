#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

// The Sequence of the last signed release applied here, kept as UpdateNames::appliedSequence()
// beside the record in the installation folder and written together with it.
// A description with a lower Sequence is a rollback and is refused.

QString appliedSequencePath(const QDir &installDir);

// 0 when nothing was recorded yet. A file that cannot be read or holds no positive number
// also gives 0, with `valid` false: the record only ever protects, it must not strand a
// client whose record was damaged.
qint64 readAppliedSequence(const QDir &installDir, bool *valid = nullptr);

// The file's content: the number in decimal and LF.
QByteArray appliedSequenceBytes(qint64 sequence);
