// Bounded reads of a chosen file: the bound holds on the opened file, whatever its path claimed.
#include "platform/bounded_file.h"

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, qint64 size)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
    return path;
}

} // namespace

TEST(BoundedFile, ReadsUpToTheBoundAndRefusesWhatIsNotARegularFile)
{
    QTemporaryDir dir;
    const BoundedRead atLimit = readBoundedFile(writeFile(dir, "at.har", 4096), 4096);
    EXPECT_EQ(atLimit.failure, BoundedReadFailure::none);
    EXPECT_EQ(atLimit.data, QByteArray(4096, 'x'));
    EXPECT_EQ(readBoundedFile(writeFile(dir, "empty.har", 0), 4096).data, QByteArray());

    const BoundedRead over = readBoundedFile(writeFile(dir, "over.har", 4097), 4096);
    EXPECT_EQ(over.failure, BoundedReadFailure::tooLarge);
    EXPECT_TRUE(over.data.isEmpty());

    EXPECT_EQ(readBoundedFile(dir.filePath("missing.har"), 4096).failure, BoundedReadFailure::unreadable);
    EXPECT_EQ(readBoundedFile(dir.path(), 4096).failure, BoundedReadFailure::notRegularFile);
    EXPECT_EQ(readBoundedFile("/dev/zero", 4096).failure, BoundedReadFailure::notRegularFile);
    // Opening a FIFO with no writer would wait for one; it is refused at once instead.
    const QString fifo = dir.filePath("pipe.har");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(readBoundedFile(fifo, 4096).failure, BoundedReadFailure::notRegularFile);
}

TEST(BoundedFile, AFileLargerThanItsCheckedSizeIsRefused)
{
    // The kernel's status files are regular files that state a size of 0 and hold more: the read
    // must not trust the size it checked.
    const BoundedRead status = readBoundedFile("/proc/self/status", 64);
    EXPECT_EQ(status.failure, BoundedReadFailure::tooLarge);
    EXPECT_TRUE(status.data.isEmpty());
}

TEST(BoundedFile, AFileThatKeepsGrowingIsNeverReadPastTheBound)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "growing.har", 16);
    const qint64 bound = 256 * 1024;
    std::atomic<bool> stop = false;
    // Appends until the read has returned, so the file crosses the bound while it is being read.
    std::thread writer([&] {
        QFile file(path);
        if (!file.open(QIODevice::Append))
            return;
        const QByteArray chunk(4096, 'y');
        while (!stop) {
            file.write(chunk);
            file.flush();
        }
    });
    // Reads taken while it is still small may succeed, but none ever holds more than the bound.
    BoundedRead read;
    do {
        read = readBoundedFile(path, bound);
        EXPECT_LE(read.data.size(), bound);
    } while (read.failure == BoundedReadFailure::none);
    stop = true;
    writer.join();
    EXPECT_EQ(read.failure, BoundedReadFailure::tooLarge);
}
