// Reading and safely replacing the stand-in engine's files under its data directory, and the folder's lock.
#include "core/data_file.h"

#include "core/engine_support.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace standin {

namespace {

constexpr size_t kSinkBuffer = 256 * 1024;

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A rename is only durable once the folder that holds the name is on the disk too.
std::error_code syncFolder(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::error_code(errno, std::generic_category());
    std::error_code failure;
    if (::fsync(fd) != 0)
        failure = std::error_code(errno, std::generic_category());
    ::close(fd);
    return failure;
}

} // namespace

std::optional<std::string> readFileIfPresent(const std::filesystem::path &file)
{
    // Without blocking and without following a link: a FIFO planted under a data file's name would
    // otherwise hold the engine before it can answer anything.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return std::nullopt;
    struct stat info {};
    if (fd >= 0 ? ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) : errno == ELOOP) {
        if (fd >= 0)
            ::close(fd);
        // Moving the name aside leaves whatever it named alone.
        const auto aside = keepAside(file);
        logError(file.string() + " is not a regular file; "
                 + (aside ? "kept as " + aside->string() + " and left alone" : std::string("it could not be moved aside")));
        return std::nullopt;
    }
    if (fd < 0)
        return std::string();
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

void FileSink::write(std::string_view bytes)
{
    if (!m_ok)
        return;
    m_written += bytes.size();
    if (bytes.size() >= kSinkBuffer) {
        // A long run (a route's body) goes straight to the file, never through a buffer of its size.
        if (flush()) {
            m_ok = writeAll(m_fd, bytes);
            if (!m_ok)
                m_error = std::error_code(errno ? errno : EIO, std::generic_category());
        }
        return;
    }
    m_buffer.append(bytes);
    if (m_buffer.size() >= kSinkBuffer)
        flush();
}

bool FileSink::flush()
{
    if (m_ok && !m_buffer.empty()) {
        m_ok = writeAll(m_fd, m_buffer);
        if (!m_ok)
            m_error = std::error_code(errno ? errno : EIO, std::generic_category());
    }
    m_buffer.clear();
    return m_ok;
}

bool isOutOfSpace(std::error_code error)
{
    return error == std::errc::no_space_on_device || error == std::errc::file_too_large
           || error.value() == EDQUOT;
}

FileReplacement::FileReplacement(std::filesystem::path file)
    : m_file(std::move(file))
{
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    // A fresh name each time, created only if nothing has it: a file or link planted under a temporary's
    // name is never written through.
    static std::atomic<std::uint64_t> counter {0};
    static const std::uint64_t salt = std::random_device {}();
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary = m_file.string() + ".tmp-" + std::to_string(::getpid()) + "-"
                      + std::to_string(salt ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull));
        m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_openError = std::error_code(errno, std::generic_category());
        m_sink = FileSink(-1);
        return;
    }
    m_sink = FileSink(m_fd);
}

FileReplacement::~FileReplacement()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temporary.c_str());
    }
}

std::error_code FileReplacement::commit()
{
    if (m_fd < 0)
        return m_openError ? m_openError : std::make_error_code(std::errc::bad_file_descriptor);
    // The bytes reach the disk before the name does, so a crash leaves the old file or the new one.
    std::error_code failure;
    if (!m_sink.flush())
        failure = m_sink.error() ? m_sink.error() : std::make_error_code(std::errc::io_error);
    else if (::fsync(m_fd) != 0)
        failure = std::error_code(errno, std::generic_category());
    ::close(m_fd);
    m_fd = -1;
    if (failure) {
        ::unlink(m_temporary.c_str());
        return failure;
    }
    std::error_code ec;
    std::filesystem::rename(m_temporary, m_file, ec);
    // Not acknowledged until the new name is on the disk too: a crash could otherwise bring back the old file.
    return ec ? ec : syncFolder(m_file.parent_path());
}

std::error_code saveFileStreaming(const std::filesystem::path &file, const std::function<void(FileSink &)> &write)
{
    FileReplacement replacement(file);
    write(replacement.sink());
    return replacement.commit();
}

std::error_code saveFileReplacing(const std::filesystem::path &file, std::string_view text)
{
    return saveFileStreaming(file, [text](FileSink &sink) { sink.write(text); });
}

bool appendToFile(const std::filesystem::path &file, std::string_view bytes)
{
    // A link planted under the name fails here; the caller then writes the file afresh, which replaces
    // the link and leaves what it pointed to alone.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    const bool written = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    ::close(fd);
    return written;
}

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 at -O3 takes a concatenated string's length as possibly above PTRDIFF_MAX here and warns
// about a copy that cannot happen (known false positives of -Wstringop-overflow and -Wrestrict on
// std::string; silencing the first brings out the second).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
std::optional<std::filesystem::path> keepAside(const std::filesystem::path &file)
{
    for (int n = 1; n < 10000; ++n) {
        std::filesystem::path aside = file.string() + ".unreadable" + (n == 1 ? "" : "-" + std::to_string(n));
        std::error_code ec;
        if (std::filesystem::exists(aside, ec) || ec)
            continue;
        // The engine holds the folder's lock, so nobody else takes the free name meanwhile.
        std::filesystem::rename(file, aside, ec);
        if (ec)
            return std::nullopt;
        return aside;
    }
    return std::nullopt;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void makePrivate(const std::filesystem::path &directory)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    // A shared folder such as /tmp (sticky) or one of another user's is not ours to close.
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0 && !(info.st_mode & S_ISVTX) && info.st_uid == ::geteuid())
        ::chmod(directory.c_str(), 0700);
    // Only what the engine writes: the folder may be one the user keeps other things in.
    const auto ours = [](const std::string &name) {
        for (const char *prefix : {"state.json", "history.json", "schema.json", "engine.lock", "kestrion-root-ca."}) {
            if (name.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    };
    const auto restrict = [&](const std::filesystem::path &folder) {
        for (auto it = std::filesystem::directory_iterator(folder, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink(ec) && it->is_regular_file(ec) && ours(it->path().filename().string()))
                ::chmod(it->path().c_str(), 0600);
        }
    };
    restrict(directory);
    const auto ca = directory / "ca";
    if (std::filesystem::is_directory(std::filesystem::symlink_status(ca, ec))) {
        ::chmod(ca.c_str(), 0700);
        restrict(ca);
    }
}

void removeStaleTemporaries(const std::filesystem::path &directory)
{
    const auto sweep = [](const std::filesystem::path &folder) {
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(folder, ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            // "<file>.tmp" is what engines before unique names left.
            const bool temporary = name.find(".tmp-") != std::string::npos
                                   || (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0);
            const bool ours = temporary
                              && (name.rfind("state.json", 0) == 0 || name.rfind("history.json", 0) == 0
                                  || name.rfind("schema.json", 0) == 0 || name.rfind("kestrion-root-ca.", 0) == 0);
            std::error_code statusError;
            if (ours && !it->is_symlink(statusError) && it->is_regular_file(statusError))
                ::unlink(it->path().c_str());
        }
    };
    sweep(directory);
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(directory / "ca", ec)))
        sweep(directory / "ca");
}

// jemalloc's control entry, present when the engine is linked with it (the test programs are not).
extern "C" int mallctl(const char *name, void *oldp, size_t *oldlenp, void *newp, size_t newlen) __attribute__((weak));

// "arena.<MALLCTL_ARENAS_ALL>.purge": jemalloc's own way to hand every arena's unused pages back
// (MALLCTL_ARENAS_ALL is 4096; glibc's malloc_trim does nothing for memory jemalloc holds).
constexpr const char *kPurgeEveryArena = "arena.4096.purge";

void releaseFreedMemory()
{
    if (mallctl)
        mallctl(kPurgeEveryArena, nullptr, nullptr, nullptr, 0);
    else
        ::malloc_trim(0);
}

DataFolderLock::~DataFolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DataFolderLock::acquire(const std::filesystem::path &directory, int graceMs, std::string &error)
{
    const auto file = directory / "engine.lock";
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat info {};
    if (m_fd >= 0 ? ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) : errno == ELOOP) {
        // Something planted under the lock's name is moved aside, never written through.
        if (m_fd >= 0)
            ::close(m_fd);
        const auto aside = keepAside(file);
        if (!aside) {
            error = file.string() + " is not a regular file and could not be moved aside";
            m_fd = -1;
            return false;
        }
        logError(file.string() + " was not a regular file; kept as " + aside->string() + " and left alone");
        m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (m_fd < 0) {
        const int reason = errno;
        if (reason == EACCES || reason == EROFS || reason == EPERM || reason == ENOSPC || reason == EDQUOT)
            error = "cannot write the data folder " + directory.string() + ": " + std::strerror(reason);
        else
            error = "could not open " + file.string() + ": " + std::strerror(reason);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = "could not lock " + file.string() + ": " + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            char text[32] = {};
            const ssize_t n = ::pread(m_fd, text, sizeof text - 1, 0);
            const std::string holder = n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
            error = "the data folder " + directory.string() + " is in use by another engine"
                    + (holder.empty() ? std::string() : " (pid " + holder + ")") + "; quit the other engine first";
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        // Short steps: the other engine lets go the moment it exits, and this start waits on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(m_fd, 0) == 0)
        ::pwrite(m_fd, pid.data(), pid.size(), 0);
    return true;
}

} // namespace standin
