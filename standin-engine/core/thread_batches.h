// Items added by many threads at once, gathered per adding thread and taken in batches, so the adding
// threads share no lock: the history (and the kept requests riding with its records) take what
// answering threads add this way.
#pragma once

#include "core/engine_support.h"

#include <array>
#include <cstddef>
#include <deque>
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
        explicit Ahead(const std::deque<Item> &items) : m_items(items) {}
        std::size_t size() const { return m_items.size(); }
        const Item &operator[](std::size_t i) const { return m_items[i]; }
        const Item &front() const { return m_items.front(); }

    private:
        const std::deque<Item> &m_items;
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
        std::vector<Item> fallen = add(std::forward<Make>(make), 0, kept, 0, std::forward<ShowAhead>(ahead));
        if (fallen.empty())
            return std::nullopt;
        return std::move(fallen.front());
    }

    // The same for items of `size` bytes each, a place also holding no more than `keptBytes` of them (0:
    // no bound in bytes) but always its newest: every oldest item past either bound is handed back.
    template <class Make, class ShowAhead>
    std::vector<Item> add(Make &&make, std::size_t size, std::size_t kept, std::size_t keptBytes, ShowAhead &&ahead)
    {
        Place &place = m_places[placeOfThisThread(kPlaces)];
        std::vector<Item> fallen;
        std::lock_guard lock(place.mutex);
        place.items.push_back(make());
        place.sizes.push_back(size);
        place.bytes += size;
        const auto over = [&] {
            return place.items.size() > kept || (keptBytes > 0 && place.bytes > keptBytes && place.items.size() > 1);
        };
        if (!over())
            return fallen;
        while (over()) {
            fallen.push_back(std::move(place.items.front()));
            place.items.pop_front();
            place.bytes -= place.sizes.front();
            place.sizes.pop_front();
        }
        ahead(Ahead(place.items));
        return fallen;
    }

    // Every item added so far, each place's oldest first. Every place is held at once while they are
    // taken, so what is taken is all that was added before some moment: an item numbered under a place's
    // lock (see add) is never taken while one numbered before it, on another thread, is left behind.
    std::vector<Item> takeAll()
    {
        std::array<std::deque<Item>, kPlaces> taken;
        {
            std::array<std::unique_lock<std::mutex>, kPlaces> held;
            for (std::size_t i = 0; i < kPlaces; ++i)
                held[i] = std::unique_lock(m_places[i].mutex);
            for (std::size_t i = 0; i < kPlaces; ++i) {
                taken[i].swap(m_places[i].items);
                m_places[i].sizes.clear();
                m_places[i].bytes = 0;
            }
        }
        std::vector<Item> all;
        for (auto &items : taken)
            all.insert(all.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
        return all;
    }

private:
    struct alignas(64) Place {
        std::mutex mutex;
        std::deque<Item> items; // oldest first
        std::deque<std::size_t> sizes;
        std::size_t bytes = 0;
    };
    std::array<Place, kPlaces> m_places;
};

} // namespace standin
