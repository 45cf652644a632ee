// Spare 64 KB blocks, a few per thread.
#include "net/spare_blocks.h"

#include <new>
#include <vector>

namespace standin::net {

namespace {

// Enough for every exchange one I/O thread runs at once under a heavy load, and little memory when idle
// (1 MB a thread at most).
constexpr std::size_t kMaxSpares = 16;

// The address sanitizer should see every block's life, so it gets no spares.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepSpares = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepSpares = false;
#else
constexpr bool kKeepSpares = true;
#endif
#else
constexpr bool kKeepSpares = true;
#endif

struct Spares {
    std::vector<char *> blocks;
    ~Spares();
};

// A block given back while the thread's own spares are being destroyed (the thread ends) is freed.
thread_local bool t_sparesGone = false;
thread_local Spares t_spares;

Spares::~Spares()
{
    t_sparesGone = true;
    for (char *block : blocks)
        ::operator delete(block);
}

} // namespace

char *SpareBlocks::take()
{
    if (kKeepSpares && !t_sparesGone && !t_spares.blocks.empty()) {
        char *block = t_spares.blocks.back();
        t_spares.blocks.pop_back();
        return block;
    }
    return static_cast<char *>(::operator new(kBlockSize));
}

void SpareBlocks::giveBack(char *block) noexcept
{
    if (!block)
        return;
    if (kKeepSpares && !t_sparesGone && t_spares.blocks.size() < kMaxSpares) {
        if (t_spares.blocks.capacity() == 0) {
            try {
                t_spares.blocks.reserve(kMaxSpares);
            } catch (const std::bad_alloc &) {
                ::operator delete(block);
                return;
            }
        }
        t_spares.blocks.push_back(block);
        return;
    }
    ::operator delete(block);
}

} // namespace standin::net
