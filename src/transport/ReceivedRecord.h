#pragma once

#include "storage/MailRecord.h"
#include "transport/Mime.h"
#include "transport/ReceiveMail.h"

#include <QByteArrayView>
#include <QString>

namespace corvidan::transport {

/// True when the message's body speaks of an attachment: with files written, its
/// record then ends in the attachment notice.
bool MentionsAttachment(QByteArrayView message);

/// The message as the viewer shows it while it arrives: the parsed fields, then
/// `extraLine` and the attachment notice on lines of their own when given.
ReceivedMessage ReceivedMessageFor(const mime::Parsed& parsed, bool attachmentNotice,
                                   const QString& extraLine = {});

/// The received-history record of a message: every stored message goes through
/// here, whether it comes from the server or from its original in a rebuild.
storage::MailRecord ReceivedRecordFor(const ReceivedMessage& message);

} // namespace corvidan::transport
