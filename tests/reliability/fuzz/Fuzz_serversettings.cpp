// "zorbet.ini" of arbitrary bytes: reading never fails, and what the settings
// dialog writes back from it reads back unchanged.
#include "FuzzSupport.h"

#include "storage/ServerSettings.h"

using namespace corvidan;
using corvidan::fuzz::visible;

namespace {

QString describe(const storage::ServerSettings& s)
{
    return visible(s.SmtpServer) + u'|' + visible(s.Pop3Server) + u'|' + visible(s.MailAddress) + u'|' +
           QString::number(s.ApopFlag);
}

bool same(const storage::ServerSettings& a, const storage::ServerSettings& b)
{
    return a.SmtpServer == b.SmtpServer && a.Pop3Server == b.Pop3Server && a.MailAddress == b.MailAddress &&
           a.ApopFlag == b.ApopFlag;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch dir;
    const QString path = dir.file(QStringLiteral("zorbet.ini"));
    dir.write(QStringLiteral("zorbet.ini"), QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    storage::ServerSettings read;
    storage::ReadServerSettings(path, read);
    for (const QString* value : {&read.SmtpServer, &read.Pop3Server, &read.MailAddress}) {
        FUZZ_CHECK(value->size() <= 100, visible(*value));
        FUZZ_CHECK(!value->contains(u'\r') && !value->contains(u'\n'), visible(*value));
    }

    FUZZ_CHECK(storage::WriteServerSettings(path, read).isOk(), path);
    storage::ServerSettings again;
    storage::ReadServerSettings(path, again);
    // Every value comes back exactly: what code page 932 cannot hold makes the file UTF-8.
    FUZZ_CHECK(same(read, again), describe(read) + QStringLiteral("\nread back: ") + describe(again));
    FUZZ_CHECK(storage::WriteServerSettings(path, again).isOk(), path);
    storage::ServerSettings third;
    storage::ReadServerSettings(path, third);
    FUZZ_CHECK(same(again, third), describe(again) + QStringLiteral("\nread back: ") + describe(third));
    return 0;
}
