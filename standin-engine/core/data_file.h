// Reading and safely replacing the stand-in engine's files under its data directory, and the folder's lock.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace standin {

// The file's bytes, or none when there is no such file. One that cannot be opened reads as empty; one
// that is no regular file (a FIFO, a device, a symbolic link) is moved aside untouched and reads as none.
std::optional<std::string> readFileIfPresent(const std::filesystem::path &file);

// Buffered writes into a file being saved; a failed write sticks, with the system's reason.
class FileSink final {
public:
    explicit FileSink(int fd) : m_fd(fd), m_ok(fd >= 0) {}
    void write(std::string_view bytes);
    bool flush();
    bool ok() const { return m_ok; }
    std::error_code error() const { return m_error; }
    size_t written() const { return m_written; }

private:
    int m_fd;
    std::string m_buffer;
    size_t m_written = 0;
    bool m_ok = true;
    std::error_code m_error;
};

// A disk that is full (or a file size it may not pass): the user can act on that, unlike other failures.
bool isOutOfSpace(std::error_code error);

// A file replaced in two steps: the bytes go to a new "<file>.tmp-..." (quick, may be done under a lock), then
// commit() flushes them to the disk and renames the temporary over the file (slow, done outside it).
// An uncommitted temporary is removed.
class FileReplacement final {
public:
    explicit FileReplacement(std::filesystem::path file);
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    FileSink &sink() { return m_sink; }
    std::error_code commit();

private:
    std::filesystem::path m_file;
    std::string m_temporary;
    int m_fd = -1;
    std::error_code m_openError;
    FileSink m_sink {-1};
};

// Writes a new temporary beside it (mode 0600 from its creation, creating the folder), flushes it to the disk and
// renames it over the file, so a failed write or a crash never leaves half a file. A failure leaves the
// file as it was and is returned for the caller to report or not.
std::error_code saveFileReplacing(const std::filesystem::path &file, std::string_view text);
std::error_code saveFileStreaming(const std::filesystem::path &file, const std::function<void(FileSink &)> &write);

// Appends bytes to the file (created 0600) and flushes them to the disk; false when that failed or the
// name is no regular file (never written through a link).
bool appendToFile(const std::filesystem::path &file, std::string_view bytes);

// Moves an unreadable file aside as "<file>.unreadable", or "<file>.unreadable-2", -3... so that no
// earlier copy is ever replaced; returns the name it got, or nothing when the move failed.
std::optional<std::filesystem::path> keepAside(const std::filesystem::path &file);

// Creates the folder when missing and makes it and the engine's files in it private to the user
// (folders 0700, files 0600): the history holds credentials in clear. Other files are left alone.
void makePrivate(const std::filesystem::path &directory);

// Removes the temporaries a killed engine left in the folder (and in its "ca" folder). Only regular
// files under our own names go; call it while holding the folder's lock.
void removeStaleTemporaries(const std::filesystem::path &directory);

// Hands memory freed by a large write back to the system.
void releaseFreedMemory();

// An exclusive lock on a data folder for the life of the process, so that two engines never share one.
class DataFolderLock final {
public:
    DataFolderLock() = default;
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // Takes the lock, waiting up to `graceMs` for an engine that is still exiting to let it go. On
    // failure `error` says why (a folder it cannot write, or the other engine, by process id when known).
    bool acquire(const std::filesystem::path &directory, int graceMs, std::string &error);

private:
    int m_fd = -1;
};

} // namespace standin
