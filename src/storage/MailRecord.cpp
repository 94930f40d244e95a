#include "storage/MailRecord.h"

#include "common/FixedField.h"

namespace corvidan::storage {

using common::readField;
using common::writeField;

QByteArray MailRecord::toBytes(int* replaced) const
{
    QByteArray bytes(Size, ' ');
    char* p = bytes.data();
    int lost = 0;
    int fieldLost = 0;
    writeField(p + SubjectOffset, Subject, SubjectWidth, &fieldLost);
    lost += fieldLost;
    writeField(p + DateOffset, Date, DateWidth, &fieldLost);
    lost += fieldLost;
    writeField(p + AddressOffset, Address, AddressWidth, &fieldLost);
    lost += fieldLost;
    writeField(p + BodyOffset, Body, BodyWidth, &fieldLost);
    lost += fieldLost;
    p[LineEndOffset] = '\r';
    p[LineEndOffset + 1] = '\n';
    common::writeInt16LE(p + LiveOffset, Live);
    if (replaced)
        *replaced = lost;
    return bytes;
}

MailRecord MailRecord::fromBytes(const char* record)
{
    MailRecord r;
    r.Subject = readField(record + SubjectOffset, SubjectWidth);
    r.Date = readField(record + DateOffset, DateWidth);
    r.Address = readField(record + AddressOffset, AddressWidth);
    r.Body = readField(record + BodyOffset, BodyWidth);
    r.Live = common::readInt16LE(record + LiveOffset);
    return r;
}

MailHeader MailHeader::fromBytes(const char* headerBytes)
{
    return MailHeader{readField(headerBytes + MailRecord::SubjectOffset, MailRecord::SubjectWidth),
                      readField(headerBytes + MailRecord::DateOffset, MailRecord::DateWidth),
                      readField(headerBytes + MailRecord::AddressOffset, MailRecord::AddressWidth)};
}

} // namespace corvidan::storage
