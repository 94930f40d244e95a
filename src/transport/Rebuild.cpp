#include "transport/Rebuild.h"

#include "storage/HistoryFile.h"
#include "storage/Originals.h"
#include "transport/Mime.h"
#include "transport/ReceivedRecord.h"

#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <utility>
#include <vector>

namespace corvidan::transport {

using storage::MailRecord;

namespace {

/// The line a lone piece of a split message got, naming the file it was saved as.
QString fragmentLineOf(const QString& oldBody)
{
    const QStringList around = QString::fromUtf16(receive_texts::FragmentSaved).split(QStringLiteral("%1"));
    const QStringList lines = oldBody.split(QStringLiteral("\r\n"));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = line->trimmed();
        if (around.size() == 2 && text.startsWith(around[0]) && text.endsWith(around[1]))
            return text;
    }
    return {};
}

} // namespace

MailRecord RecordFromOriginal(const QByteArray& message, const QByteArray& old)
{
    const mime::Parsed parsed = mime::parse(message);
    const MailRecord before = MailRecord::fromBytes(old.constData());
    if (parsed.fragment)
        return ReceivedRecordFor(ReceivedMessageFor(parsed, false, fragmentLineOf(before.Body)));
    // The notice stands for files written when the message came; they are not
    // written again, so it stays exactly when it was there. A body cut at its
    // field's end may have lost it: then the message decides, as the receive did.
    const bool cut = old.at(MailRecord::BodyOffset + MailRecord::BodyWidth - 1) != ' ';
    const bool notice = before.Body.contains(QString::fromUtf16(receive_texts::AttachmentNotice)) ||
                        (cut && MentionsAttachment(message) && !parsed.attachments.isEmpty());
    return ReceivedRecordFor(ReceivedMessageFor(parsed, notice));
}

RebuildReport RebuildReceivedHistory(const common::AppDir& appDir)
{
    RebuildReport report;
    storage::HistoryFile history(appDir, storage::HistoryKind::Received);
    const storage::Originals originals(appDir, storage::HistoryKind::Received);
    // An earlier rebuild's backup may be the only copy of the history as received:
    // a later one takes the next free name.
    report.backupPath = appDir.path(common::paths::ReceivedBackup);
    for (int n = 2; QFileInfo::exists(report.backupPath) || QFileInfo(report.backupPath).isSymLink(); ++n)
        report.backupPath = appDir.path(common::paths::ReceivedBackup) + QString::number(n);
    // Names added or dropped midway are collected at the next start if this stops.
    if (report.status = originals.BeginPass(); !report.status)
        return report;
    std::vector<std::pair<QString, QString>> renamed; // old name, new name
    QSet<QString> named;
    // Originals named the earlier way are named anew as their records are remade.
    const bool wholeRecordKeys = originals.HoldsWholeRecordKeys();
    const auto remake = [&](int, const QByteArray& old) {
        ++report.records;
        QString before;
        const std::optional<QByteArray> message = originals.Load(old, &before);
        if (!message) {
            ++report.withoutOriginal;
            for (const QString& key : storage::Originals::NamesOf(old, wholeRecordKeys))
                named.insert(key);
            return old;
        }
        ++report.redecoded;
        QByteArray fresh = RecordFromOriginal(*message, old).toBytes();
        fresh.replace(MailRecord::LiveOffset, 2, old.mid(MailRecord::LiveOffset, 2));
        const QString after = storage::Originals::keyOf(fresh);
        named.insert(after);
        if (QByteArrayView(fresh).first(MailRecord::LiveOffset) != QByteArrayView(old).first(MailRecord::LiveOffset))
            ++report.changed;
        if (after != before)
            renamed.emplace_back(before, after);
        return fresh;
    };
    // The new names exist before the fresh history names them.
    const auto linkNewNames = [&]() -> common::Status {
        for (const auto& [before, after] : renamed) {
            if (common::Status st = originals.Link(before, after); !st)
                return st;
        }
        return originals.Flush();
    };
    report.status = history.RewriteAll(remake, report.backupPath, linkNewNames);
    if (!report.status)
        return report;
    QStringList unnamed;
    for (const auto& [before, after] : renamed) {
        if (!named.contains(before)) {
            unnamed << before;
            named.insert(before); // once
        }
    }
    if (!originals.RemoveKeys(unnamed))
        originals.LeaveForCollection();
    return report;
}

} // namespace corvidan::transport
