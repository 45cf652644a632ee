// readBoundedFile over one POSIX file descriptor, so the check and the read see the same file.
#include "platform/bounded_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every way out.
struct FileDescriptor
{
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int fd;
};

} // namespace

BoundedRead readBoundedFile(const QString &path, qint64 maxBytes)
{
    // Non-blocking so that opening a FIFO for reading returns at once instead of waiting for a writer.
    const QByteArray native = QFile::encodeName(path);
    const FileDescriptor file(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        return {{}, BoundedReadFailure::unreadable};
    struct stat info = {};
    if (::fstat(file.fd, &info) != 0)
        return {{}, BoundedReadFailure::unreadable};
    if (!S_ISREG(info.st_mode))
        return {{}, BoundedReadFailure::notRegularFile};
    if (info.st_size > maxBytes)
        return {{}, BoundedReadFailure::tooLarge};

    // The stated size is only a hint: one byte past the bound is read to tell "at the limit" from "grew".
    QByteArray data(qsizetype(maxBytes) + 1, Qt::Uninitialized);
    qint64 total = 0;
    while (total < data.size()) {
        const ssize_t got = ::read(file.fd, data.data() + total, size_t(data.size() - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {{}, BoundedReadFailure::unreadable};
        if (got == 0)
            break;
        total += got;
    }
    if (total > maxBytes)
        return {{}, BoundedReadFailure::tooLarge};
    data.truncate(qsizetype(total));
    return {data, BoundedReadFailure::none};
}
