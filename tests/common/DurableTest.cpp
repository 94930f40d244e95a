#include "common/Durable.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvidan::common;

TEST(Durable, ReplacesContentAndLeavesNoTemporary)
{
    QTemporaryDir tmp;
    const QString p = tmp.path() + QStringLiteral("/a.ini");
    ASSERT_TRUE(durable::replaceFile(p, "one"));
    ASSERT_TRUE(durable::replaceFile(p, "two"));
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("two"));
    EXPECT_FALSE(QFile::exists(p + QStringLiteral(".part")));
}

TEST(Durable, KeepsPermissionsOfTheReplacedFile)
{
    QTemporaryDir tmp;
    const QString p = tmp.path() + QStringLiteral("/secret.ini");
    ASSERT_TRUE(durable::replaceFile(p, "x"));
    QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(durable::replaceFile(p, "y"));
    EXPECT_EQ(QFile::permissions(p) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST(Durable, MissingFolderIsAnError)
{
    QTemporaryDir tmp;
    const Status st = durable::replaceFile(tmp.path() + QStringLiteral("/nope/a"), "x");
    EXPECT_FALSE(st.isOk());
    EXPECT_EQ(st.code(), ErrorCode::Io);
}
