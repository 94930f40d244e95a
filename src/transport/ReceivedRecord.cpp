#include "transport/ReceivedRecord.h"

#include "common/FixedField.h"
#include "common/Text.h"
#include "transport/HeaderDecoder.h"

namespace corvidan::transport {

using common::CutAtNul;
using common::text::trimBlanks;

bool MentionsAttachment(QByteArrayView message)
{
    return message.sliced(header::bodyOffset(message)).contains("attachment");
}

ReceivedMessage ReceivedMessageFor(const mime::Parsed& parsed, bool attachmentNotice, const QString& extraLine)
{
    const QString crLf = QStringLiteral("\r\n");
    ReceivedMessage message{CutAtNul(parsed.subject), CutAtNul(parsed.from), CutAtNul(parsed.date),
                            CutAtNul(parsed.body)};
    if (!extraLine.isEmpty())
        message.body += crLf + extraLine;
    if (attachmentNotice)
        message.body += crLf + QString::fromUtf16(receive_texts::AttachmentNotice);
    return message;
}

storage::MailRecord ReceivedRecordFor(const ReceivedMessage& message)
{
    storage::MailRecord record;
    record.Subject = trimBlanks(message.subject);
    record.Address = header::fitSender(trimBlanks(message.from), storage::MailRecord::AddressWidth);
    record.Date = trimBlanks(message.date);
    record.Body = trimBlanks(message.body);
    return record;
}

} // namespace corvidan::transport
