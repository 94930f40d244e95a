#include "common/AppDir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvidan::common;

TEST(AppDir, DifferentlyCasedSpellingsReachOneFile)
{
    QTemporaryDir tmp;
    QDir(tmp.path()).mkpath(QStringLiteral("★MAilData"));
    QFile f(tmp.path() + QStringLiteral("/★MAilData/Zrbdata20.data"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const AppDir dir(tmp.path());
    const QString a = dir.path(u"\\★MAilData\\Zrbdata20.data");
    EXPECT_EQ(dir.path(u"\\★MailData\\zrbdata20.data"), a);
    EXPECT_EQ(dir.path(u"\\★MAILDATA\\ZRBDATA20.DATA"), a);
    EXPECT_TRUE(QFile::exists(a));
}

TEST(AppDir, MissingComponentsKeepTheirSpellingAndTrailingSeparator)
{
    QTemporaryDir tmp;
    const AppDir dir(tmp.path());
    EXPECT_EQ(dir.path(u"\\添付フォルダ\\0.txt"), tmp.path() + QStringLiteral("/添付フォルダ/0.txt"));
    EXPECT_EQ(dir.path(u"\\添付フォルダ\\"), tmp.path() + QStringLiteral("/添付フォルダ/"));
}

TEST(AppDir, ExactMatchWinsOverCaseVariant)
{
    QTemporaryDir tmp;
    for (const char* n : {"text1.txt", "Text1.txt"}) {
        QFile f(tmp.path() + u'/' + QString::fromLatin1(n));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const AppDir dir(tmp.path());
    EXPECT_TRUE(dir.path(u"\\Text1.txt").endsWith(QStringLiteral("/Text1.txt")));
    EXPECT_TRUE(dir.path(u"\\text1.txt").endsWith(QStringLiteral("/text1.txt")));
}
