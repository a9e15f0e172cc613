#include "platform/SharedFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::SharedFile;
using Kind = SharedFile::LockKind;
using Result = SharedFile::LockResult;

namespace {

class SharedFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("f.bin"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0123456789");
    }
    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(SharedFileTest, PositionedReadsAndWrites)
{
    SharedFile f;
    EXPECT_FALSE(f.open(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(f.open(dir.path())) << "a directory is not a regular file";
    ASSERT_TRUE(f.open(path));
    EXPECT_FALSE(f.readOnly());
    char buffer[8] = {};
    EXPECT_EQ(f.readAt(6, buffer, 8), 4) << "short at the end of the file";
    EXPECT_EQ(QByteArray(buffer, 4), "6789");
    const platform::FileStamp before = f.stamp();
    ASSERT_TRUE(before.Valid);
    EXPECT_TRUE(f.writeAt(12, "ab", 2));
    EXPECT_EQ(f.size(), 14);
    EXPECT_TRUE(f.flush());
    const platform::FileStamp after = f.stamp();
    EXPECT_EQ(after.Inode, before.Inode);
    EXPECT_EQ(after.Size, 14);
}

// Locks belong to one open of the file: two opens in one process exclude each other
// like two processes, and closing one leaves the other's locks alone.
TEST_F(SharedFileTest, LocksBelongToTheOpenFile)
{
    SharedFile a, b;
    ASSERT_TRUE(a.open(path));
    ASSERT_TRUE(b.open(path));
    EXPECT_EQ(a.tryLock(1, 1, Kind::Exclusive), Result::Taken);
    EXPECT_EQ(b.tryLock(1, 1, Kind::Shared), Result::Busy);
    EXPECT_EQ(b.tryLock(0, 1, Kind::Exclusive), Result::Taken) << "ranges that do not overlap";
    EXPECT_TRUE(b.lockedElsewhere(1, 1, Kind::Shared));
    EXPECT_FALSE(b.lockedElsewhere(0, 1, Kind::Exclusive)) << "its own lock is not another's";
    EXPECT_EQ(a.tryLock(1 << 30, 1, Kind::Exclusive), Result::Taken) << "past the end of the file";
    a.unlock(1, 1);
    EXPECT_EQ(b.tryLock(1, 1, Kind::Exclusive), Result::Taken);
    a.close();
    EXPECT_FALSE(b.lockedElsewhere(0, 100, Kind::Exclusive));
    SharedFile c;
    ASSERT_TRUE(c.open(path));
    EXPECT_EQ(c.tryLock(0, 2, Kind::Shared), Result::Busy) << "b's locks outlive a's close";
}

TEST_F(SharedFileTest, ReadOnlyFileTakesOnlySharedLocks)
{
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    SharedFile r, w;
    ASSERT_TRUE(r.open(path));
    EXPECT_TRUE(r.readOnly());
    EXPECT_FALSE(r.writeAt(0, "x", 1));
    EXPECT_EQ(r.tryLock(0, 1, Kind::Exclusive), Result::Failed);
    EXPECT_EQ(r.tryLock(0, 1, Kind::Shared), Result::Taken);
    ASSERT_TRUE(w.open(path));
    EXPECT_TRUE(w.lockedElsewhere(0, 1, Kind::Exclusive));
    EXPECT_FALSE(w.lockedElsewhere(0, 1, Kind::Shared));
}
