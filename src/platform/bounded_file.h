// Reading a file the user chose whole, under a size bound judged on the opened file, not on its path.
#pragma once

#include <QByteArray>
#include <QString>

enum class BoundedReadFailure { none, notRegularFile, tooLarge, unreadable };

struct BoundedRead
{
    QByteArray data;
    BoundedReadFailure failure = BoundedReadFailure::none;
};

// Opens the path once, checks on that handle that it is a regular file of at most maxBytes, and reads
// from it at most maxBytes: a file swapped for another or grown after the check is never read whole.
// A FIFO or device is refused without blocking. Blocking I/O; callers run it off the GUI thread.
BoundedRead readBoundedFile(const QString &path, qint64 maxBytes);
