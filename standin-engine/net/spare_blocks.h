// The 64 KB buffers every forwarded exchange takes and gives back (the piece in hand, the host's read
// buffer), kept for reuse by each thread: thousands of exchanges a second would otherwise each make
// two large allocations, which cost many times a small one.
#pragma once

#include "net/net_limits.h"

#include <cstddef>

namespace standin::net {

class SpareBlocks final {
public:
    static constexpr std::size_t kBlockSize = Limits::kStreamChunk;

    // A block of kBlockSize bytes, a spare one of this thread's when it has one.
    static char *take();
    // Kept as a spare of this thread's while it holds few, freed otherwise.
    static void giveBack(char *block) noexcept;
};

// For a flat buffer: its kBlockSize allocations (a buffer made ready for a whole piece) are spare
// blocks; any other size is an ordinary allocation.
template <class T>
struct SpareBlockAllocator {
    using value_type = T;

    SpareBlockAllocator() = default;
    template <class U>
    SpareBlockAllocator(const SpareBlockAllocator<U> &) noexcept
    {
    }

    T *allocate(std::size_t n)
    {
        if (n * sizeof(T) == SpareBlocks::kBlockSize)
            return reinterpret_cast<T *>(SpareBlocks::take());
        return static_cast<T *>(::operator new(n * sizeof(T)));
    }
    void deallocate(T *p, std::size_t n) noexcept
    {
        if (n * sizeof(T) == SpareBlocks::kBlockSize)
            SpareBlocks::giveBack(reinterpret_cast<char *>(p));
        else
            ::operator delete(p);
    }

    template <class U>
    bool operator==(const SpareBlockAllocator<U> &) const noexcept { return true; }
};

// A read buffer whose room for a whole piece comes from the spare blocks.
using PieceBuffer = beast::basic_flat_buffer<SpareBlockAllocator<char>>;

// One spare block held for as long as the object lives: where a body's piece waits between its read
// and its write.
class PieceBlock final {
public:
    PieceBlock()
        : m_data(SpareBlocks::take())
    {
    }
    ~PieceBlock() { SpareBlocks::giveBack(m_data); }
    PieceBlock(const PieceBlock &) = delete;
    PieceBlock &operator=(const PieceBlock &) = delete;

    char *data() { return m_data; }
    const char *data() const { return m_data; }
    static constexpr std::size_t size() { return SpareBlocks::kBlockSize; }

private:
    char *m_data;
};

} // namespace standin::net
