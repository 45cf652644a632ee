// Items added by many threads at once, gathered per adding thread and taken in batches, so the adding
// threads share no lock: the history (and the kept requests riding with its records) take what
// answering threads add this way.
#pragma once

#include "core/engine_support.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace standin {

template <class Item>
class ThreadBatches final {
public:
    static constexpr std::size_t kPlaces = 16;

    // A full place's items, those handed back next first.
    class Ahead {
    public:
        Ahead(const std::vector<Item> &ring, std::size_t oldest) : m_ring(ring), m_oldest(oldest) {}
        std::size_t size() const { return m_ring.size(); }
        const Item &operator[](std::size_t i) const
        {
            i += m_oldest;
            return m_ring[i < m_ring.size() ? i : i - m_ring.size()];
        }
        const Item &front() const { return (*this)[0]; }

    private:
        const std::vector<Item> &m_ring;
        std::size_t m_oldest;
    };

    // Adds the item `make` returns to the calling thread's place; `make` runs under that place's lock,
    // so whoever takes the place has every item numbered there. The taker needs no more than the newest
    // `kept` items of a place: the oldest past those is handed back, to be let go after the lock on the
    // thread that made it, so a place never grows past `kept`. Once a place is full, `ahead` is shown its
    // items under the lock, to fetch into the cache what letting them go will touch: they were made so
    // long ago that nothing of them is left there.
    template <class Make, class ShowAhead>
    std::optional<Item> add(Make &&make, std::size_t kept, ShowAhead &&ahead)
    {
        Place &place = m_places[placeOfThisThread(kPlaces)];
        std::lock_guard lock(place.mutex);
        if (place.ring.size() < kept) {
            if (place.ring.empty())
                place.ring.reserve(kept);
            place.ring.push_back(make());
            return std::nullopt;
        }
        // Full: the newest takes the oldest's slot, whose line it was about to touch anyway.
        std::optional<Item> oldest(std::exchange(place.ring[place.oldest], make()));
        if (++place.oldest == place.ring.size())
            place.oldest = 0;
        ahead(Ahead(place.ring, place.oldest));
        return oldest;
    }

    // Every item added so far, each place's oldest first. Every place is held at once while they are
    // taken, so what is taken is all that was added before some moment: an item numbered under a place's
    // lock (see add) is never taken while one numbered before it, on another thread, is left behind.
    std::vector<Item> takeAll()
    {
        std::array<std::vector<Item>, kPlaces> rings;
        std::array<std::size_t, kPlaces> oldest {};
        {
            std::array<std::unique_lock<std::mutex>, kPlaces> held;
            for (std::size_t i = 0; i < kPlaces; ++i)
                held[i] = std::unique_lock(m_places[i].mutex);
            for (std::size_t i = 0; i < kPlaces; ++i) {
                rings[i].swap(m_places[i].ring);
                oldest[i] = std::exchange(m_places[i].oldest, 0);
            }
        }
        std::vector<Item> taken;
        for (std::size_t i = 0; i < kPlaces; ++i) {
            auto &ring = rings[i];
            const auto from = ring.begin() + static_cast<std::ptrdiff_t>(oldest[i]);
            taken.insert(taken.end(), std::make_move_iterator(from), std::make_move_iterator(ring.end()));
            taken.insert(taken.end(), std::make_move_iterator(ring.begin()), std::make_move_iterator(from));
        }
        return taken;
    }

private:
    struct alignas(64) Place {
        std::mutex mutex;
        // Oldest first from `oldest`, wrapping around once it holds what is kept.
        std::vector<Item> ring;
        std::size_t oldest = 0;
    };
    std::array<Place, kPlaces> m_places;
};

} // namespace standin
