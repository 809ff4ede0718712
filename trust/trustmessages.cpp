#include "trustmessages.h"

QString TrustMessages::publicKeyInvalid(const QString &value)
{
    return tr("升级公钥配置不合法:%1").arg(value);
}

QString TrustMessages::signatureFetchFailed(const QString &reason)
{
    return tr("下载升级描述签名文件失败:%1").arg(reason);
}

QString TrustMessages::signatureMissing()
{
    return tr("升级描述文件没有签名");
}

QString TrustMessages::signatureInvalid()
{
    return tr("升级描述文件签名校验失败，文件可能被篡改");
}

QString TrustMessages::unknownKey()
{
    return tr("升级描述文件不是由受信任的密钥签名的");
}

QString TrustMessages::sequenceMissing()
{
    return tr("升级描述文件缺少发布序号");
}

QString TrustMessages::sequenceRollback(qint64 sequence, qint64 applied)
{
    return tr("升级描述文件的发布序号%1低于已安装的发布序号%2，拒绝回退到旧版本")
        .arg(sequence)
        .arg(applied);
}

QString TrustMessages::sequenceReused(qint64 sequence)
{
    return tr("升级描述文件的发布序号%1已用于内容不同的升级描述，文件可能被篡改").arg(sequence);
}

QString TrustMessages::expiresInvalid(const QString &text)
{
    return tr("升级描述文件的有效期%1不合法").arg(text);
}

QString TrustMessages::expired(const QString &when)
{
    return tr("升级描述文件已于%1过期").arg(when);
}

QString TrustMessages::md5ListMismatch()
{
    return tr("更新列表文件md5.txt与升级描述不符，文件可能被篡改");
}

QString TrustMessages::sha256ListFetchFailed(const QString &reason)
{
    return tr("下载SHA-256列表文件失败:%1").arg(reason);
}

QString TrustMessages::sha256ListMismatch()
{
    return tr("SHA-256列表文件sha256.txt与升级描述不符，文件可能被篡改");
}

QString TrustMessages::patchListMismatch()
{
    return tr("补丁列表文件list.txt与升级描述不符，文件可能被篡改");
}

QString TrustMessages::fileSha256Mismatch(const QString &fileName)
{
    return tr("更新文件%1的SHA-256校验不对").arg(fileName);
}

QString TrustMessages::fileNotInSha256List(const QString &fileName)
{
    return tr("更新文件%1不在SHA-256列表中").arg(fileName);
}
