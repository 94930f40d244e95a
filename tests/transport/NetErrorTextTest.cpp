// The one table of texts: mail server failures, storage failures, the receive's notices.
#include "texts/CheckReportText.h"
#include "texts/ErrorText.h"
#include "texts/NetErrorText.h"
#include "transport/ConnectionCheck.h"
#include "transport/NMail.h"

#include <QSet>
#include <functional>
#include <gtest/gtest.h>

using corvidan::transport::MailProtocol;
using corvidan::transport::NetError;
using corvidan::transport::NetErrorKind;
using corvidan::texts::NetErrorHeadline;
using corvidan::texts::NetErrorText;

namespace {

struct Case {
    NetErrorKind kind;
    MailProtocol protocol;
    /// Every one of these must appear in the text.
    std::initializer_list<const char16_t*> says;
};

NetError errorOf(const Case& c)
{
    NetError error;
    error.kind = c.kind;
    error.protocol = c.protocol;
    error.host = QStringLiteral("mail.example.jp");
    error.port = c.protocol == MailProtocol::Pop3 ? 110 : 25;
    error.certificateNames = {QStringLiteral("a.example.net"), QStringLiteral("b.example.net")};
    error.expiry = QStringLiteral("2026-01-31");
    error.item = QStringLiteral("taro@@example.jp");
    return error;
}

constexpr int kFirstKind = int(NetErrorKind::None) + 1;
constexpr int kLastKind = int(NetErrorKind::Other) - 1;

} // namespace

TEST(NetErrorText, EveryKindSaysWhatHappenedAndWhatToTry)
{
    const Case cases[] = {
        {NetErrorKind::Refused, MailProtocol::Smtp, {u"SMTPサーバー「mail.example.jp」(ポート25)に接続できません。", u"拒否"}},
        {NetErrorKind::HostNotFound, MailProtocol::Pop3, {u"POP3サーバー「mail.example.jp」が見つかりません", u"つづり"}},
        {NetErrorKind::NoAnswer, MailProtocol::Pop3, {u"応答がなく、接続できませんでした", u"ポート番号"}},
        {NetErrorKind::Timeout, MailProtocol::Smtp, {u"タイムアウト"}},
        {NetErrorKind::PlainWhereTlsExpected, MailProtocol::Pop3, {u"暗号化なしで応答しました", u"STLS"}},
        {NetErrorKind::TlsWherePlainExpected, MailProtocol::Pop3, {u"最初から暗号化(TLS)", u"「pop3s://mail.example.jp」"}},
        {NetErrorKind::TlsWherePlainExpected, MailProtocol::Smtp, {u"「smtps://mail.example.jp」"}},
        {NetErrorKind::CertificateNameMismatch, MailProtocol::Smtp,
         {u"mail.example.jp", u"a.example.net、b.example.net", u"証明書"}},
        {NetErrorKind::CertificateExpired, MailProtocol::Pop3, {u"有効期限", u"2026-01-31", u"日付"}},
        {NetErrorKind::CertificateUntrusted, MailProtocol::Pop3, {u"信頼できる発行元", u"trusted-certificates.pem"}},
        {NetErrorKind::TlsUnavailable, MailProtocol::Pop3,
         {u"パスワードを送りませんでした", u"「pop3s://mail.example.jp」", u"「pop3+plain://mail.example.jp:110」"}},
        {NetErrorKind::TlsUnavailable, MailProtocol::Smtp, {u"STARTTLS", u"「smtp+plain://mail.example.jp:25」"}},
        {NetErrorKind::TlsDowngrade, MailProtocol::Smtp, {u"前回は暗号化できたサーバーが暗号化を拒否しました", u"別のネットワーク"}},
        {NetErrorKind::LoginRefused, MailProtocol::Pop3, {u"認証に失敗しました", u"ＩＤ，ＰＡＳＳ", u"アプリ パスワード"}},
        {NetErrorKind::LoginRequired, MailProtocol::Smtp, {u"認証を求めて", u"受信と同じアカウント"}},
        {NetErrorKind::BadServerName, MailProtocol::Pop3, {u"POP3サーバー名「mail.example.jp」が正しくありません。", u"「POPサーバー」"}},
        {NetErrorKind::ConnectionLost, MailProtocol::Pop3, {u"POP3サーバー「mail.example.jp」との接続が切れました。"}},
        {NetErrorKind::TlsFailed, MailProtocol::Smtp, {u"暗号化(TLS)通信を確立できません", u"プロバイダ"}},
        {NetErrorKind::TrustFileUnreadable, MailProtocol::Pop3, {u"「trusted-certificates.pem」から証明書を読み込めません", u"PEM形式"}},
        {NetErrorKind::SenderRejected, MailProtocol::Smtp, {u"送信者のメールアドレスがSMTPサーバーに拒否されました。"}},
        {NetErrorKind::RecipientRejected, MailProtocol::Smtp, {u"宛先のメールアドレスがSMTPサーバーに拒否されました。"}},
        {NetErrorKind::DataRejected, MailProtocol::Smtp, {u"メールの内容がSMTPサーバーに拒否されました。"}},
        {NetErrorKind::NotSent, MailProtocol::Smtp, {u"メールを送信できませんでした。"}},
        {NetErrorKind::NoServerName, MailProtocol::Smtp, {u"SMTPサーバーが設定されていません。"}},
        {NetErrorKind::UnusableServerName, MailProtocol::Smtp, {u"SMTPサーバー名「taro@@example.jp」が正しくありません。"}},
        {NetErrorKind::NoSender, MailProtocol::Smtp, {u"送信者のメールアドレスが設定されていません。"}},
        {NetErrorKind::NoRecipient, MailProtocol::Smtp, {u"宛先のメールアドレスが指定されていません。"}},
        {NetErrorKind::BadAddress, MailProtocol::Smtp, {u"メールアドレス「taro@@example.jp」が正しくありません。"}},
        {NetErrorKind::UnreadableAttachment, MailProtocol::Smtp, {u"添付ファイル「taro@@example.jp」を読み込めません。"}},
        {NetErrorKind::CaFileUnreadable, MailProtocol::Pop3, {u"CA証明書ファイルを読み込めません: taro@@example.jp"}},
        {NetErrorKind::NoSession, MailProtocol::Pop3, {u"POP3の接続がありません"}},
        {NetErrorKind::AttachmentNotCreated, MailProtocol::Pop3, {u"添付ファイルを作成できません: taro@@example.jp"}},
        {NetErrorKind::PartsMissing, MailProtocol::Pop3, {u"分割されたメールの一部しかありません"}},
        {NetErrorKind::TlsNotSupported, MailProtocol::Pop3, {u"TLSを利用できません (mail.example.jp:110)"}},
        {NetErrorKind::GreetingRefused, MailProtocol::Pop3, {u"POP3サーバーが接続を拒否しました: "}},
        {NetErrorKind::NotConnected, MailProtocol::Pop3, {u"POP3サーバーに接続されていません"}},
        {NetErrorKind::NoApopTimestamp, MailProtocol::Pop3, {u"APOP用のタイムスタンプ", u"(mail.example.jp:110)"}},
        {NetErrorKind::MailboxUnreadable, MailProtocol::Pop3, {u"メールボックスを確認できません"}},
        {NetErrorKind::BadMessageCount, MailProtocol::Pop3, {u"(mail.example.jp:110): STATのメッセージ数"}},
        {NetErrorKind::ListLineTooLong, MailProtocol::Pop3, {u"一覧の行が長すぎます"}},
        {NetErrorKind::ListNumberOutOfRange, MailProtocol::Pop3, {u"一覧のメッセージ番号"}},
        {NetErrorKind::ReplyTooLong, MailProtocol::Pop3, {u"応答が長すぎます ("}},
        {NetErrorKind::BadStatusLine, MailProtocol::Pop3, {u"POP3サーバーの応答が正しくありません (mail.example.jp:110): "}},
        {NetErrorKind::StatusLineTooLong, MailProtocol::Pop3, {u"応答行が長すぎます"}},
        {NetErrorKind::MessageTooBig, MailProtocol::Pop3, {u"大きすぎるため受信しません", u"サーバーに残してあります。"}},
        {NetErrorKind::NoSuchMessage, MailProtocol::Pop3, {u"メッセージ番号が範囲外です: "}},
        {NetErrorKind::ReceiveCancelled, MailProtocol::Pop3, {u"受信を中止しました"}},
        {NetErrorKind::MessageRefused, MailProtocol::Pop3, {u"を取得できません: "}},
        {NetErrorKind::DeletionRefused, MailProtocol::Pop3, {u"を削除できません: "}},
        {NetErrorKind::QuitRefused, MailProtocol::Pop3, {u"QUITを拒否されました: "}},
        {NetErrorKind::SendFailed, MailProtocol::Pop3, {u"POP3サーバーへ送信できません (mail.example.jp:110): "}},
        {NetErrorKind::ReadFailed, MailProtocol::Pop3, {u"POP3サーバーから読めません (mail.example.jp:110): "}},
        {NetErrorKind::NoReply, MailProtocol::Pop3, {u"POP3サーバーから応答がありません (タイムアウト, mail.example.jp:110)"}},
        {NetErrorKind::TooSlow, MailProtocol::Pop3, {u"POP3サーバーからの受信が遅すぎます (タイムアウト: "}},
        {NetErrorKind::QuitAbandoned, MailProtocol::Pop3, {u"QUITを送らずに切断しました (mail.example.jp:110)"}},
        {NetErrorKind::Disconnected, MailProtocol::Pop3, {u"POP3サーバーとの接続が切れました (mail.example.jp:110)"}},
        {NetErrorKind::ProbeReplyTooLong, MailProtocol::Smtp, {u"SMTPサーバーの応答が長すぎます"}},
        {NetErrorKind::ProbeReplyMalformed, MailProtocol::Smtp, {u"SMTPサーバーの応答が正しくありません: "}},
    };
    // Every kind the core can report has its row here, and so its words in the table.
    QSet<int> covered;
    for (const Case& c : cases)
        covered.insert(int(c.kind));
    for (int kind = kFirstKind; kind <= kLastKind; ++kind)
        EXPECT_TRUE(covered.contains(kind)) << "kind " << kind << " is not in this table";
    for (const Case& c : cases) {
        const QString text = NetErrorText(errorOf(c));
        EXPECT_FALSE(text.contains(u'{')) << text.toStdString();
        EXPECT_FALSE(text.contains(u'\n')) << "no detail, one paragraph: " << text.toStdString();
        for (const char16_t* part : c.says)
            EXPECT_TRUE(text.contains(QString::fromUtf16(part))) << text.toStdString() << " lacks "
                                                                 << QString::fromUtf16(part).toStdString();
    }
}

TEST(NetErrorText, DetailAndServerReplyFollowOnLinesOfTheirOwn)
{
    NetError error = errorOf({NetErrorKind::LoginRefused, MailProtocol::Smtp, {}});
    error.serverReply = QStringLiteral("535 5.7.8 Authentication credentials invalid");
    error.detail = QStringLiteral("Login denied");
    const QStringList lines = NetErrorText(error).split(u'\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("SMTPサーバーでの認証に失敗しました。")));
    EXPECT_EQ(lines[1], QStringLiteral("サーバーの応答: 535 5.7.8 Authentication credentials invalid"));
    EXPECT_EQ(lines[2], QStringLiteral("詳細: Login denied"));

    // A failure of no known kind is shown as it came.
    error.kind = NetErrorKind::Other;
    error.detail = QStringLiteral("メッセージ 3 を取得できません: -ERR locked");
    EXPECT_EQ(NetErrorText(error), error.detail);
}

// A protocol fault is one sentence: the server's words and the numbers sit in it,
// not on lines of their own.
TEST(NetErrorText, AProtocolFaultCarriesItsWordsAndNumbersInOneSentence)
{
    struct Fault {
        NetErrorKind kind;
        std::function<void(NetError&)> set;
        const char16_t* text;
    };
    const Fault faults[] = {
        {NetErrorKind::GreetingRefused, [](NetError& e) { e.serverReply = QStringLiteral("-ERR busy"); },
         u"POP3サーバーが接続を拒否しました: -ERR busy"},
        {NetErrorKind::BadMessageCount,
         [](NetError& e) {
             e.bound = 100000;
             e.serverReply = QStringLiteral("+OK 2000000000 1");
         },
         u"POP3サーバーの応答が正しくありません (mail.example.jp:110): STATのメッセージ数が正しくないか多すぎます"
         u" (上限 100000): +OK 2000000000 1"},
        {NetErrorKind::ListNumberOutOfRange,
         [](NetError& e) {
             e.amount = 2000000000;
             e.bound = 2;
         },
         u"POP3サーバーの応答が正しくありません (mail.example.jp:110): 一覧のメッセージ番号 2000000000 はメッセージ数 2 を超えています"},
        {NetErrorKind::ReplyTooLong, [](NetError& e) { e.bound = 65536; },
         u"POP3サーバーの応答が正しくありません (mail.example.jp:110): 応答が長すぎます (65536 バイト超)"},
        // Whole MiB, rounded up: one octet over 1 MiB reads as 2.
        {NetErrorKind::MessageTooBig,
         [](NetError& e) {
             e.message = 4;
             e.amount = (1 << 20) + 1;
             e.bound = 1 << 20;
         },
         u"メッセージ 4 は大きすぎるため受信しません (2 MB, 上限 1 MB)。サーバーに残してあります。"},
        {NetErrorKind::MessageRefused,
         [](NetError& e) {
             e.message = 3;
             e.serverReply = QStringLiteral("-ERR locked");
         },
         u"メッセージ 3 を取得できません: -ERR locked"},
        {NetErrorKind::QuitRefused, [](NetError&) {}, u"QUITを拒否されました: "},
        {NetErrorKind::SendFailed, [](NetError& e) { e.detail = QStringLiteral("Broken pipe"); },
         u"POP3サーバーへ送信できません (mail.example.jp:110): Broken pipe"},
        {NetErrorKind::TooSlow,
         [](NetError& e) {
             e.amount = 12;
             e.bound = 2500;
         },
         u"POP3サーバーからの受信が遅すぎます (タイムアウト: 2.5 秒で 12 バイト, mail.example.jp:110)"},
        // The server's words are never read as a placeholder.
        {NetErrorKind::ProbeReplyMalformed, [](NetError& e) { e.serverReply = QStringLiteral("{host} {detail}"); },
         u"SMTPサーバーの応答が正しくありません: {host} {detail}"},
    };
    for (const Fault& f : faults) {
        NetError error = errorOf({f.kind, f.kind == NetErrorKind::ProbeReplyMalformed ? MailProtocol::Smtp
                                                                                      : MailProtocol::Pop3, {}});
        f.set(error);
        EXPECT_EQ(NetErrorText(error), QString::fromUtf16(f.text)) << int(f.kind);
    }
    // A handshake that ran out of time says so on its detail line; the library's own words win.
    NetError late = errorOf({NetErrorKind::Timeout, MailProtocol::Smtp, {}});
    late.handshakeTimedOut = true;
    EXPECT_EQ(NetErrorText(late), NetErrorHeadline(late) + QStringLiteral("\n詳細: タイムアウトしました"));
    late.detail = QStringLiteral("Network operation timed out");
    EXPECT_EQ(NetErrorText(late), NetErrorHeadline(late) + QStringLiteral("\n詳細: ") + late.detail);
}

// The connection check gives a headline and the technical words in brackets; a
// protocol fault is its own words, a handshake out of time says so.
TEST(NetErrorText, TheConnectionCheckShowsAFaultsWordsOnceInBrackets)
{
    using corvidan::transport::ProbeKind;
    using corvidan::transport::ProbeResult;
    const auto probe = [](ProbeKind kind, quint16 port, bool reached, const NetError& error) {
        ProbeResult r;
        r.kind = kind;
        r.host = error.host;
        r.port = port;
        r.reached = reached;
        r.error = error;
        return r;
    };
    NetError malformed = errorOf({NetErrorKind::ProbeReplyMalformed, MailProtocol::Smtp, {}});
    malformed.serverReply = QStringLiteral("HTTP/1.1 400 Bad Request");
    NetError unreadable = errorOf({NetErrorKind::ReadFailed, MailProtocol::Pop3, {}});
    unreadable.port = 995;
    unreadable.detail = QStringLiteral("Connection reset by peer");
    NetError late = errorOf({NetErrorKind::Timeout, MailProtocol::Smtp, {}});
    late.handshakeTimedOut = true;
    const struct {
        ProbeResult probe;
        QString ending;
    } cases[] = {
        {probe(ProbeKind::Smtp, 25, true, malformed),
         QStringLiteral("SMTP ポート25: （SMTPサーバーの応答が正しくありません: HTTP/1.1 400 Bad Request）")},
        {probe(ProbeKind::Pop3s, 995, false, unreadable),
         QStringLiteral(": （POP3サーバーから読めません (mail.example.jp:995): Connection reset by peer）")},
        {probe(ProbeKind::Smtp, 25, false, late), QStringLiteral(": ") + NetErrorHeadline(late) + QStringLiteral("（タイムアウトしました）")},
    };
    for (const auto& c : cases) {
        corvidan::transport::CheckReport report;
        report.probes = {c.probe};
        const QStringList lines = corvidan::texts::CheckReportText(report).split(u'\n');
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[1].endsWith(c.ending)) << lines[1].toStdString();
        EXPECT_EQ(lines[1].count(u'（'), 1) << "the words once: " << lines[1].toStdString();
    }
}

TEST(NetErrorText, AFailureOfNoKindOrANotSentMailKeepsTheWordsItCameWith)
{
    NetError error = errorOf({NetErrorKind::Other, MailProtocol::Smtp, {}});
    error.serverReply = QStringLiteral("554 5.7.1 Message rejected");
    EXPECT_EQ(NetErrorText(error), error.serverReply) << "the server's own words, when that is all there is";
    // The send that did not go: the server's words and the library's follow.
    error.kind = NetErrorKind::NotSent;
    error.detail = QStringLiteral("Failure when receiving data from the peer");
    EXPECT_EQ(NetErrorText(error), QStringLiteral("メールを送信できませんでした。\nサーバーの応答: ") + error.serverReply +
                                       QStringLiteral("\n詳細: ") + error.detail);
}

TEST(NetErrorText, WhatTheUserTypedIsShownAsTyped)
{
    // A setting that looks like a placeholder is not filled in.
    NetError error = errorOf({NetErrorKind::UnusableServerName, MailProtocol::Smtp, {}});
    error.item = QStringLiteral("{host}:{port}");
    EXPECT_EQ(NetErrorText(error), QStringLiteral("SMTPサーバー名「{host}:{port}」が正しくありません。"));
    // Every row but the bare detail has a headline; none is left with a placeholder.
    for (int kind = kFirstKind; kind <= kLastKind; ++kind) {
        error.kind = NetErrorKind(kind);
        error.item = QStringLiteral("x");
        for (MailProtocol protocol : {MailProtocol::Pop3, MailProtocol::Smtp}) {
            error.protocol = protocol;
            const QString headline = corvidan::texts::NetErrorHeadline(error);
            EXPECT_FALSE(headline.isEmpty()) << "kind " << kind;
            EXPECT_FALSE(headline.contains(u'{')) << headline.toStdString();
        }
    }
}

using corvidan::common::ErrorCode;
using corvidan::common::Reason;
using corvidan::common::Status;

TEST(StatusText, EveryReasonNamesTheFileAndWhatToDo)
{
    const QString file = QStringLiteral("/data/★MAilData/Tyaku.dat");
    struct ReasonCase {
        Status status;
        const char16_t* text;
    };
    const ReasonCase cases[] = {
        {Status::fail(ErrorCode::Io, file), u""},
        {Status::fail(ErrorCode::Io, Reason::SymbolicLink, file),
         u": シンボリックリンクのため書き込みません（リンク先のファイルは変更していません）。"},
        {Status::fail(ErrorCode::Io, Reason::WriterBusy, file, 2500),
         u": 別の処理（受信や削除）がこのファイルを更新中のため、2.5秒待っても書き込めませんでした。"
         u"しばらくしてからやり直して下さい。"},
        {Status::fail(ErrorCode::Io, Reason::WriterBusy, file, 10000),
         u": 別の処理（受信や削除）がこのファイルを更新中のため、10秒待っても書き込めませんでした。"
         u"しばらくしてからやり直して下さい。"},
        {Status::fail(ErrorCode::NotFound, Reason::ShownMailChanged, file, 7),
         u": 第7件のメールが一覧に表示されたものと違うため、削除しませんでした（別の処理が履歴を更新しました）。"
         u"履歴を開き直して下さい。"},
        {Status::fail(ErrorCode::NotFound, Reason::ShownAddressChanged, file, 3),
         u": 第3件が表示されたものと違うため、削除しませんでした（別の処理がアドレス帳を更新しました）。"},
    };
    QSet<int> covered;
    for (const ReasonCase& c : cases) {
        covered.insert(int(c.status.reason()));
        EXPECT_EQ(corvidan::texts::StatusText(c.status), file + QString::fromUtf16(c.text));
    }
    for (Reason r : {Reason::None, Reason::SymbolicLink, Reason::WriterBusy, Reason::ShownMailChanged,
                     Reason::ShownAddressChanged})
        EXPECT_TRUE(covered.contains(int(r))) << int(r);

    // A failed undo after a failed step: both, one per line, the step first.
    const Status both = cases[2].status.followedBy(Status::fail(ErrorCode::Io, QStringLiteral("/data/x: No space left")));
    EXPECT_EQ(corvidan::texts::StatusText(both),
              corvidan::texts::StatusText(cases[2].status) + QStringLiteral("\n/data/x: No space left"));
    EXPECT_EQ(both.code(), ErrorCode::Io);
    EXPECT_EQ(both.reason(), Reason::WriterBusy);
    EXPECT_TRUE(corvidan::texts::StatusText(Status::ok()).isEmpty());
}

TEST(StatusText, AReceivedMessageNotStoredSaysWhyAndThatItStaysOnTheServer)
{
    const QString head = QStringLiteral("受信したメールを着信履歴に保存できませんでした。\r\n");
    const QString tail = QStringLiteral("\r\nこのメールと以降のメールはサーバーに残してあります。");
    const struct {
        ErrorCode code;
        const char16_t* reason;
    } cases[] = {
        {ErrorCode::DiskFull, u"ディスクの空き容量が足りません。"},
        {ErrorCode::TooManyRecords, u"着信履歴が上限の32767件に達しています。不要なメールを削除してから受信して下さい。"},
        {ErrorCode::NotFound, u"データフォルダ「★MAilData」が見つかりません。"},
        {ErrorCode::Io, u"着信履歴のファイルに書き込めません。"},
        {ErrorCode::Corrupt, u"着信履歴のファイルに書き込めません。"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(corvidan::texts::StoreFailureText(Status::fail(c.code)), head + QString::fromUtf16(c.reason) + tail);
        const Status withFile = Status::fail(c.code, QStringLiteral("/d/Tyaku.dat: EIO"));
        EXPECT_EQ(corvidan::texts::StoreFailureText(withFile),
                  head + QString::fromUtf16(c.reason) + tail + QStringLiteral("\r\n（/d/Tyaku.dat: EIO）"));
    }
    // A reason's sentence is what goes in the brackets.
    const Status link = Status::fail(ErrorCode::Io, Reason::SymbolicLink, QStringLiteral("/d/Tyaku.dat"));
    EXPECT_TRUE(corvidan::texts::StoreFailureText(link).endsWith(
        QStringLiteral("（/d/Tyaku.dat: シンボリックリンクのため書き込みません（リンク先のファイルは変更していません）。）")));
}

using corvidan::transport::LeftMessage;
using corvidan::transport::ReceiveNotice;
using corvidan::transport::ReceiveProblem;

TEST(ReceiveNoticeText, EveryNoticeHasItsWordsAndItsTitle)
{
    const NetError refused = errorOf({NetErrorKind::LoginRefused, MailProtocol::Pop3, {}});
    NetError words;
    words.kind = NetErrorKind::Other;
    words.detail = QStringLiteral("メッセージ 2 を削除できません: -ERR busy");
    const QString error = QStringLiteral("エラー");
    NetError locked;
    locked.kind = NetErrorKind::MessageRefused;
    locked.message = 5;
    locked.serverReply = QStringLiteral("-ERR locked");
    const QList<LeftMessage> left = {LeftMessage{2, true, 200000000, {}}, LeftMessage{5, false, -1, locked}};
    const struct {
        ReceiveNotice notice;
        QString text;
        QString title;
    } cases[] = {
        {{ReceiveProblem::None, {}, {}, {}, {}}, QString(), QString()},
        {{ReceiveProblem::NoServer, {}, {}, {}, {}}, QStringLiteral("POP3サーバーが設定されていません。"), QString()},
        {{ReceiveProblem::NoAccount, {}, {}, {}, {}}, QStringLiteral("ID・パスワードが設定されていません。"), QString()},
        {{ReceiveProblem::DataFolderMissing, {}, {}, {}, {}},
         QStringLiteral("データフォルダ「★MAilData」が見つかりません。受信したメールを保存できないため、"
                        "受信しませんでした（メールはサーバーに残っています）。"),
         error},
        {{ReceiveProblem::ConnectFailed, refused, {}, QStringLiteral("pop.example.jp"), {}}, NetErrorText(refused), error},
        {{ReceiveProblem::ConnectFailed, {}, {}, QStringLiteral("pop.example.jp"), {}},
         QStringLiteral("POP3サーバーに接続できません: pop.example.jp"), error},
        {{ReceiveProblem::LoginFailed, refused, {}, {}, {}}, NetErrorText(refused), error},
        {{ReceiveProblem::FetchFailed, words, {}, {}, {}}, words.detail, error},
        {{ReceiveProblem::AttachmentNotWritten, {}, {}, QStringLiteral("/a/x.txt"), {}},
         QStringLiteral("添付ファイルをオープンできません\r\n添付ファイルを作成できません: /a/x.txt\r\n"
                        "このメールと以降のメールはサーバーに残してあります。"),
         QString()},
        {{ReceiveProblem::RecordNotStored, {}, Status::fail(ErrorCode::DiskFull), {}, {}},
         corvidan::texts::StoreFailureText(Status::fail(ErrorCode::DiskFull)), QString()},
        {{ReceiveProblem::PartsMissing, {}, {}, {}, {}}, QStringLiteral("分割されたメールが全て揃っていません"), QString()},
        {{ReceiveProblem::LeftOnServer, {}, {}, {}, left},
         QStringLiteral("次のメールは受信せず、サーバーに残しました。\r\n2 件目（200000000 バイト）: 大きすぎます。"
                        "\r\n5 件目: サーバーが送信を拒否しました（メッセージ 5 を取得できません: -ERR locked）。"),
         error},
        {{ReceiveProblem::DeletionUnconfirmed, words, {}, {}, {}},
         words.detail + QStringLiteral("\r\n受信したメールは着信履歴に保存しました。サーバーから削除できなかったメールは、"
                                       "次回の受信で二重に保存せずに削除します。"),
         error},
    };
    QSet<int> covered;
    for (const auto& c : cases) {
        covered.insert(int(c.notice.problem));
        EXPECT_EQ(corvidan::texts::ReceiveNoticeText(c.notice), c.text) << int(c.notice.problem);
        EXPECT_EQ(corvidan::texts::ReceiveNoticeTitle(c.notice), c.title) << int(c.notice.problem);
    }
    for (int p = int(ReceiveProblem::None); p <= int(ReceiveProblem::DeletionUnconfirmed); ++p)
        EXPECT_TRUE(covered.contains(p)) << "notice " << p << " is not in this table";
    // The library's words end at a NUL, as its buffers do.
    words.detail = QStringLiteral("-ERR gone") + QChar(0) + QStringLiteral("garbage");
    EXPECT_EQ(corvidan::texts::ReceiveNoticeText({ReceiveProblem::FetchFailed, words, {}, {}, {}}),
              QStringLiteral("-ERR gone"));
}

TEST(NetErrorText, TheLibraryKeepsTheKindAndWordsItWithTheFrontEndsTable)
{
    corvidan::transport::NMail mail;
    const auto send = [&](const QString& server, const QString& to) {
        return mail.NMailSmtpSendMail(server, to, {}, {}, QStringLiteral("taro@example.jp"), QStringLiteral("s"),
                                      QStringLiteral("b"), {}, {}, 0);
    };
    const auto message = [&] {
        QString text;
        int size = corvidan::transport::NMail::BufferSize;
        mail.NMailGetMessage(0, text, size);
        return text;
    };
    EXPECT_EQ(send(QStringLiteral("  "), QStringLiteral("a@example.jp")), -1);
    EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::NoServerName);
    EXPECT_TRUE(message().isEmpty()) << "without the table the library has only technical words";
    mail.options().describeError = corvidan::texts::NetErrorText;
    EXPECT_EQ(message(), QStringLiteral("SMTPサーバーが設定されていません。"));

    // Refused before any connection: the address the builder could not use is kept apart.
    EXPECT_EQ(send(QStringLiteral("mail.example.jp"), QStringLiteral("a b@example.jp")), -2);
    EXPECT_EQ(mail.lastNetError().kind, NetErrorKind::BadAddress);
    EXPECT_TRUE(mail.lastNetError().item.endsWith(QStringLiteral("@example.jp")));
    EXPECT_EQ(message(), QStringLiteral("メールアドレス「%1」が正しくありません。").arg(mail.lastNetError().item));
}
