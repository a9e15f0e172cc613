// The inter-process lock on byte 1, contended by a second process.
#include "DbTestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process that takes the byte lock, reports it and holds it for holdMs or until
// the holder object goes away, whichever comes first.
class LockHolder
{
public:
    LockHolder(const QString &path, int holdMs)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        const QByteArray file = QFile::encodeName(path);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(file.constData(), O_RDWR);
            struct flock fl
            {
            };
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = 1;
            fl.l_len = 1;
            const char ok = (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            struct pollfd p
            {
                release[0], POLLIN, 0
            };
            ::poll(&p, 1, holdMs);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char ok = 0;
        m_locked = ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
    }
    ~LockHolder()
    {
        if (m_release >= 0)
            ::close(m_release);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    bool Locked() const { return m_locked; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};

int openDescriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

class LockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.filePath(QStringLiteral("lock.db"));
        dictdb::CreateDatabaseFile(path, {}, {everyTypeTable()});
        saved = {TDictSession::Default().LockRetryCount, TDictSession::Default().LockWaitTime};
    }
    void TearDown() override
    {
        TDictSession::Default().LockRetryCount = saved.first;
        TDictSession::Default().LockWaitTime = saved.second;
    }
    QTemporaryDir dir;
    QString path;
    std::pair<int, int> saved;
};

TEST_F(LockTest, GivesUpAfterRetryCountPlusOneAttemptsAndReleasesEverything)
{
    TDictSession::Default().LockRetryCount = 3;
    TDictSession::Default().LockWaitTime = 100;
    LockHolder holder(path, 20000);
    ASSERT_TRUE(holder.Locked());
    const int before = openDescriptors();
    TDictTable t;
    QElapsedTimer timer;
    timer.start();
    try {
        openTable(t, path, QStringLiteral("All"));
        FAIL() << "opened despite the lock";
    } catch (const EDictDBError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Wait for unlock time out"));
    }
    // four attempts with three waits of 100 ms between them
    EXPECT_GE(timer.elapsed(), 290);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(openDescriptors(), before) << "the failed open closed its file";
    EXPECT_EQ(TDictSession::Default().FindDatabase(path), nullptr);
}

TEST_F(LockTest, SucceedsOnceTheHolderLetsGoWithinTheRetries)
{
    TDictSession::Default().LockRetryCount = 400;
    TDictSession::Default().LockWaitTime = 25;
    LockHolder holder(path, 300);
    ASSERT_TRUE(holder.Locked());
    QElapsedTimer timer;
    timer.start();
    TDictTable t;
    EXPECT_NO_THROW(openTable(t, path, QStringLiteral("All")));
    EXPECT_GE(timer.elapsed(), 200);
    EXPECT_TRUE(t.Active());
}

TEST_F(LockTest, LockIsReleasedAfterEveryOperation)
{
    TDictTable t;
    openTable(t, path, QStringLiteral("All"));
    t.AppendRecord({0, QStringLiteral("x")});
    t.First();
    // another process can take the lock right away while the table stays open
    TDictSession::Default().LockRetryCount = 1;
    LockHolder holder(path, 0);
    EXPECT_TRUE(holder.Locked());
}

TEST_F(LockTest, ExclusiveOpenKeepsOthersOut)
{
    TDictDatabase db;
    db.DatabaseName = path;
    db.Exclusive = true;
    db.Open();
    TDictDBFileIO other;
    EXPECT_THROW(other.Open(path), EDictDBError);
    db.Close();
    EXPECT_NO_THROW(other.Open(path));
    TDictDatabase second;
    second.DatabaseName = path;
    second.Exclusive = true;
    EXPECT_THROW(second.Open(), EDictDBError) << "not while another has it open";
    EXPECT_FALSE(second.Connected());
}
