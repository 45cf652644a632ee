// Items added by many threads at once, gathered per adding thread and taken in batches, so the adding
// threads share no lock: the history and the kept requests take what answering threads add this way.
#pragma once

#include "core/engine_support.h"

#include <array>
#include <cstddef>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace standin {

template <class Item>
class ThreadBatches final {
public:
    static constexpr std::size_t kPlaces = 16;
    // A place's items, oldest first: a deque, so that letting the oldest go moves nothing else.
    using Items = std::deque<Item>;

    // Adds the item `make` returns to the calling thread's place; `make` runs under that place's lock,
    // so whoever takes the place has every item numbered there. The taker needs no more than the newest
    // `kept` items of a place: the oldest past those is handed back, to be let go after the lock on the
    // thread that made it, so a place never grows past `kept`. Once a place is full, `ahead` is shown its
    // items (those handed back next come first) under the lock, to fetch into the cache what letting them
    // go will touch: they were made so long ago that nothing of them is left there.
    template <class Make, class Ahead>
    std::optional<Item> add(Make &&make, std::size_t kept, Ahead &&ahead)
    {
        Place &place = m_places[placeOfThisThread(kPlaces)];
        std::lock_guard lock(place.mutex);
        place.items.push_back(make());
        if (place.items.size() <= kept)
            return std::nullopt;
        std::optional<Item> oldest(std::move(place.items.front()));
        place.items.pop_front();
        ahead(std::as_const(place.items));
        return oldest;
    }

    // Every item added so far, place after place. Every place is held at once while they are taken, so
    // what is taken is all that was added before some moment: an item numbered under a place's lock
    // (see add) is never taken while one numbered before it, on another thread, is left behind.
    std::vector<Item> takeAll()
    {
        std::vector<Item> taken;
        for (auto &items : takeEachPlace())
            std::move(items.begin(), items.end(), std::back_inserter(taken));
        return taken;
    }

    // The same, left as each place held them: items too big to move about are best not gathered into one.
    std::array<Items, kPlaces> takeEachPlace()
    {
        std::array<Items, kPlaces> swapped;
        std::array<std::unique_lock<std::mutex>, kPlaces> held;
        for (std::size_t i = 0; i < kPlaces; ++i)
            held[i] = std::unique_lock(m_places[i].mutex);
        for (std::size_t i = 0; i < kPlaces; ++i)
            swapped[i].swap(m_places[i].items);
        return swapped;
    }

private:
    struct alignas(64) Place {
        std::mutex mutex;
        Items items;
    };
    std::array<Place, kPlaces> m_places;
};

} // namespace standin
