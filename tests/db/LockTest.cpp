// The inter-process lock on byte 1, contended by a second process.
#include "support/DbTestUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// A lock the kernel lists for a file: its kind (FLOCK, POSIX, OFDLCK), READ or WRITE,
// and its byte range (end -1: to the end of the file).
struct HeldLock
{
    QString kind, type;
    qint64 start = 0, end = 0;
};

QList<HeldLock> locksOn(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const QString id = QStringLiteral("%1:%2:%3")
                           .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
                           .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
                           .arg(quint64(st.st_ino));
    // The kernel prints the list a page per read and walks it again from the line count
    // on the next read, so locks other processes take or drop meanwhile can repeat or
    // skip a line: read until two reads agree.
    auto snapshot = [] {
        QFile f(QStringLiteral("/proc/locks"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QByteArray text = snapshot();
    for (int i = 0; i < 50; ++i) {
        QByteArray again = snapshot();
        if (again == text)
            break;
        text = std::move(again);
    }
    QList<HeldLock> held;
    for (const QByteArray &line : text.split('\n')) {
        // "1: OFDLCK ADVISORY  READ  -1 08:01:1234 0 0"; waiters ("->") are not held
        const QStringList p = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (p.size() == 8 && p[5] == id)
            held << HeldLock {p[1], p[3], p[6].toLongLong(),
                              p[7] == QLatin1String("EOF") ? -1 : p[7].toLongLong()};
    }
    return held;
}

QString describe(const QList<HeldLock> &locks)
{
    QStringList out;
    for (const HeldLock &l : locks)
        out << QStringLiteral("%1 %2 %3-%4").arg(l.kind, l.type).arg(l.start).arg(l.end);
    return out.join(QLatin1String(", "));
}

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

// Sharing is a byte-range lock of the open file on byte 0, never a whole-file lock: a
// network file system turns whole-file locks into byte-range locks, and one over the
// lock byte would make every table access of the program's own open wait for itself.
TEST_F(LockTest, SharingLockLiesBesideTheLockByte)
{
    TDictCreateOptions o;
    o.Compressed = true;
    dictdb::CreateDatabaseFile(path, o, {{QStringLiteral("B"), {{QStringLiteral("V"), ftBlob}}, {}}});
    for (const bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "shared");
        TDictDatabase db;
        db.DatabaseName = path;
        db.Exclusive = exclusive;
        db.Open();
        const QString share = exclusive ? QStringLiteral("WRITE") : QStringLiteral("READ");
        QList<HeldLock> idle = locksOn(path);
        ASSERT_EQ(idle.size(), 1) << describe(idle).toStdString();
        EXPECT_EQ(idle[0].kind, QStringLiteral("OFDLCK"));
        EXPECT_EQ(idle[0].type, share);
        EXPECT_EQ(idle[0].start, 0);
        EXPECT_EQ(idle[0].end, 0);
        // compressing a blob reports progress while the append holds the lock byte
        QList<HeldLock> busy;
        db.OnCompressProgress = [&](TDictDatabase *, int) {
            if (busy.isEmpty())
                busy = locksOn(path);
        };
        TDictTable t;
        openTable(t, path, QStringLiteral("B"));
        t.AppendRecord({QByteArray(5000, 'x')});
        QStringList seen;
        for (const HeldLock &l : busy) {
            EXPECT_EQ(l.kind, QStringLiteral("OFDLCK"));
            EXPECT_NE(l.end, -1) << "nothing reaches to the end of the file";
            for (qint64 b = l.start; b <= l.end; ++b)
                seen << QStringLiteral("%1:%2").arg(b).arg(l.type);
        }
        seen.sort();
        EXPECT_EQ(seen, QStringList({QStringLiteral("0:") + share, QStringLiteral("1:WRITE")}))
            << describe(busy).toStdString();
        t.Close();
        db.Close();
        EXPECT_TRUE(locksOn(path).isEmpty()) << describe(locksOn(path)).toStdString();
    }
}

// A file without write permission can be opened only for reading, which can hold only a
// shared lock; an exclusive opener still comes in only when no one else has it open, and
// keeps other exclusive openers out.
TEST_F(LockTest, ExclusiveOpenOfAReadOnlyFile)
{
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    TDictDatabase shared;
    shared.DatabaseName = path;
    shared.Open();
    ASSERT_TRUE(shared.FileIO()->ReadOnly());
    TDictDatabase exclusive;
    exclusive.DatabaseName = path;
    exclusive.Exclusive = true;
    EXPECT_THROW(exclusive.Open(), EDictDBError) << "not while another has it open";
    shared.Close();
    EXPECT_NO_THROW(exclusive.Open());
    TDictDatabase second;
    second.DatabaseName = path;
    second.Exclusive = true;
    EXPECT_THROW(second.Open(), EDictDBError);
    TDictTable t;
    EXPECT_NO_THROW(openTable(t, path, QStringLiteral("All"))) << "its tables use its own connection";
}
