#include "common/FixedField.h"
#include "compose/SendMail.h"
#include "transport/NMail.h"

namespace corvidan::compose {

int NMailSender::send(const OutgoingMail& mail)
{
    if (mail.keepOriginal) {
        m_mail.options().keepSent = [&mail](QByteArrayView bytes) {
            const common::Status kept = mail.keepOriginal(bytes);
            return kept ? QString() : keptFailureText(kept);
        };
    }
    const int result = m_mail.NMailSmtpSendMail(mail.server, mail.to, QString(), QString(), mail.from,
                                                mail.subject, mail.body, QString(), mail.attachments, 0);
    m_mail.options().keepSent = nullptr;
    return result;
}

QString NMailSender::lastError()
{
    QString buffer;
    int size = transport::NMail::BufferSize;
    m_mail.NMailGetMessage(0, buffer, size);
    return common::CutAtNul(buffer);
}

void NMailSender::beginBatch(int count)
{
    m_batch = count > 1;
    if (m_batch)
        m_mail.beginSmtpBatch();
}

void NMailSender::endBatch()
{
    if (m_batch)
        m_mail.endSmtpBatch();
    m_batch = false;
}

} // namespace corvidan::compose
