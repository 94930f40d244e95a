#pragma once

#include "common/AppDir.h"
#include "common/Status.h"
#include "storage/MailRecord.h"

#include <QByteArray>
#include <QString>

namespace corvidan::transport {

/// The record a receive would store for `message` today. `old` is the record
/// stored for it before: what the message alone no longer tells (the file name
/// a lone piece of a split message was saved under, whether its attachments
/// were written) is taken from there.
storage::MailRecord RecordFromOriginal(const QByteArray& message, const QByteArray& old);

struct RebuildReport {
    int records = 0;         ///< whole records in the history
    int redecoded = 0;       ///< made again from their originals
    int changed = 0;         ///< of those, records whose bytes changed
    int withoutOriginal = 0; ///< received before originals were kept: left as they were
    QString backupPath;      ///< the history as it was
    common::Status status;
};

/// Decodes every original of the received history again, in record order,
/// into a fresh history that replaces the old one durably (kept as the backup);
/// attachments are not written again. Originals follow their changed records.
RebuildReport RebuildReceivedHistory(const common::AppDir& appDir);

} // namespace corvidan::transport
