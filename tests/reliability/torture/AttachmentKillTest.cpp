// Attachments written by a process that dies while writing: the folder never
// shows half a file under an attachment's name, and the leftovers go away.

#include "Torture.h"

#include "support/TempAppDir.h"
#include "transport/Attachment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using namespace corvidan;
namespace attachment = corvidan::transport::attachment;

TEST(AttachmentKilledWhileWriting, LeavesTheWholeFileOrNoneAndNoLeftovers)
{
    test::TempAppDir dir;
    const QString folder = dir.path(u"\\添付フォルダ");
    QByteArray data(48 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 11));
    std::mt19937 rng(8122026);
    std::uniform_int_distribution<int> delayUs(0, 60000);
    int torn = 0;
    for (int round = 0; round < 6; ++round) {
        const QString name = QStringLiteral("設計図-%1.pdf").arg(round);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            attachment::writeNew(folder, name, data);
            ::_exit(0);
        }
        test::torture::killAfter(pid, delayUs(rng));
        const QString path = folder + u'/' + name;
        if (QFileInfo::exists(path))
            torn += test::torture::readAll(path) != data;
    }
    EXPECT_EQ(torn, 0) << "half-written files under an attachment's name";

    // The next write clears what the killed writers left and takes the free name.
    const QString written = attachment::writeNew(folder, QStringLiteral("見積書.pdf"), "PDF");
    EXPECT_EQ(written, folder + QStringLiteral("/見積書.pdf"));
    for (const QString& entry : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(entry.endsWith(QStringLiteral(".part"))) << entry.toStdString();
}

TEST(AttachmentKilledWhileWriting, ALiveWritersFileAndExistingNamesAreNeverTouched)
{
    test::TempAppDir dir;
    const QString folder = dir.path(u"\\添付フォルダ");
    const QString mine = folder + QStringLiteral("/.corvidan-attachment-%1-abc.part").arg(::getpid());
    dir.write(u"\\添付フォルダ\\.corvidan-attachment-1-abc.part", "pid 1 is still running");
    QFile(mine).open(QIODevice::WriteOnly);
    dir.write(u"\\添付フォルダ\\資料.txt", "old");
    EXPECT_EQ(attachment::writeNew(folder, QStringLiteral("資料.txt"), "new"), folder + QStringLiteral("/資料 (2).txt"));
    EXPECT_EQ(dir.read(u"\\添付フォルダ\\資料.txt"), "old");
    EXPECT_EQ(dir.read(u"\\添付フォルダ\\資料 (2).txt"), "new");
    EXPECT_TRUE(QFile::exists(mine)) << "a running writer's file was removed";
    // pid 1 is alive: its name is not ours to judge either.
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/.corvidan-attachment-1-abc.part")));
}
