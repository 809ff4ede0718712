#include "zstdcodec.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

// ZSTD_c_deterministicRefPrefix: experimental, in 1.5.4 and in both libraries linked.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <memory>

namespace zstdcodec {

namespace {

struct FreeCCtx
{
    void operator()(ZSTD_CCtx *context) const { ZSTD_freeCCtx(context); }
};
struct FreeDCtx
{
    void operator()(ZSTD_DCtx *context) const { ZSTD_freeDCtx(context); }
};

bool fail(const QString &message, QString *error)
{
    *error = message;
    return false;
}

// The whole file mapped read-only; an empty file maps to nothing and has no bytes to give.
struct MappedInput
{
    QFile file;
    const uchar *data = nullptr;
    qint64 size = 0;

    bool open(const QString &path)
    {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        size = file.size();
        data = size > 0 ? file.map(0, size) : nullptr;
        return size == 0 || data;
    }
};

// A new file of `size` bytes, mapped for writing; nothing is left behind when that fails.
bool mapOutput(QFile *file, qint64 size, uchar **data)
{
    if (!file->open(QIODevice::ReadWrite | QIODevice::NewOnly))
        return false;
    *data = size > 0 && file->resize(size) ? file->map(0, size) : nullptr;
    if (size == 0 || *data)
        return true;
    file->remove();
    return false;
}

int highestBit(qint64 value)
{
    int bit = 0;
    while (value >>= 1)
        ++bit;
    return bit;
}

// The parameters the zstd command line sets for `-LEVEL --long [--patch-from]`, so that the
// bytes are the command line's.
bool configure(ZSTD_CCtx *context, int level, qint64 sourceSize, bool patch)
{
    const int windowLog = patch ? qBound(10, highestBit(sourceSize) + 1, 31) : 27;
    const bool set =
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level)) &&
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1)) &&
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1)) &&
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1)) &&
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog)) &&
        // A base mapped right before the file would make zstd take the two as one buffer,
        // with other bytes than the command line's (its buffers never touch).
        !ZSTD_isError(ZSTD_CCtx_setParameter(context, ZSTD_c_deterministicRefPrefix, 1));
    // One worker thread, as the command line: a library built without threads compresses in
    // the caller's thread, with slightly different bytes.
    ZSTD_CCtx_setParameter(context, ZSTD_c_nbWorkers, 1);
    return set;
}

} // namespace

bool compress(const QString &source, const QString &base, const QString &target, int level,
              QString *error)
{
    MappedInput input, reference;
    if (!input.open(source))
        return fail(QStringLiteral("cannot read %1").arg(source), error);
    if (!base.isEmpty() && !reference.open(base))
        return fail(QStringLiteral("cannot read %1").arg(base), error);
    const std::unique_ptr<ZSTD_CCtx, FreeCCtx> context(ZSTD_createCCtx());
    if (!context || !configure(context.get(), level, input.size, !base.isEmpty()) ||
        (!base.isEmpty() &&
         ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), reference.data, size_t(reference.size)))))
        return fail(QStringLiteral("zstd does not take these settings"), error);
    QFile output(target);
    uchar *out = nullptr;
    const size_t bound = ZSTD_compressBound(size_t(input.size));
    if (!mapOutput(&output, qint64(bound), &out))
        return fail(QStringLiteral("cannot write %1").arg(target), error);
    const size_t written =
        ZSTD_compress2(context.get(), out, bound, input.data, size_t(input.size));
    output.unmap(out);
    if (ZSTD_isError(written) || !output.resize(qint64(written))) {
        output.remove();
        return fail(QStringLiteral("zstd failed on %1: %2")
                        .arg(source, QString::fromLatin1(ZSTD_getErrorName(written))),
                    error);
    }
    return true;
}

bool decode(const QString &packed, const QString &base, const QString &target, qint64 size,
            QString *error)
{
    MappedInput frame, reference;
    if (!frame.open(packed) || frame.size == 0)
        return fail(QStringLiteral("cannot read %1").arg(packed), error);
    const size_t frameBytes = ZSTD_findFrameCompressedSize(frame.data, size_t(frame.size));
    if (ZSTD_isError(frameBytes) || qint64(frameBytes) != frame.size ||
        ZSTD_getFrameContentSize(frame.data, size_t(frame.size)) != quint64(size) ||
        ZSTD_getDictID_fromFrame(frame.data, size_t(frame.size)) != 0)
        return fail(QStringLiteral("%1 is not one zstd frame of %2 bytes").arg(packed).arg(size),
                    error);
    if (!base.isEmpty() && !reference.open(base))
        return fail(QStringLiteral("cannot read the base %1").arg(base), error);
    // A full disk under a mapping ends the process instead of failing a write.
    if (QStorageInfo(QFileInfo(target).absolutePath()).bytesAvailable() < size)
        return fail(QStringLiteral("no room for %1 bytes").arg(size), error);
    const std::unique_ptr<ZSTD_DCtx, FreeDCtx> context(ZSTD_createDCtx());
    if (!context ||
        (!base.isEmpty() &&
         ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), reference.data, size_t(reference.size)))))
        return fail(QStringLiteral("zstd cannot take the base"), error);
    QFile output(target);
    uchar *out = nullptr;
    if (!mapOutput(&output, size, &out))
        return fail(QStringLiteral("cannot write %1").arg(target), error);
    const size_t made =
        ZSTD_decompressDCtx(context.get(), out, size_t(size), frame.data, size_t(frame.size));
    output.unmap(out);
    if (ZSTD_isError(made) || qint64(made) != size) {
        output.remove();
        return fail(QStringLiteral("zstd failed on %1: %2")
                        .arg(packed, QString::fromLatin1(ZSTD_getErrorName(made))),
                    error);
    }
    return true;
}

} // namespace zstdcodec
