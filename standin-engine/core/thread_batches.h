// Items added by many threads at once, gathered per adding thread and taken in batches, so the adding
// threads share no lock: the history and the kept requests take what answering threads add this way.
#pragma once

#include "core/engine_support.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <vector>

namespace standin {

template <class Item>
class ThreadBatches final {
public:
    static constexpr std::size_t kPlaces = 16;
    // A place holding this many items asks to be taken.
    static constexpr std::size_t kBatch = 32;

    // Adds the item `make` returns to the calling thread's place; `make` runs under that place's lock,
    // so whoever takes the place has every item numbered there. The place's count of items after it:
    // from kBatch on, the place asks to be taken.
    template <class Make>
    std::size_t add(Make &&make)
    {
        Place &place = m_places[placeOfThisThread(kPlaces)];
        std::lock_guard lock(place.mutex);
        // Room for as many as were taken last time, so a batch is not moved item by item as it grows.
        if (place.items.empty() && place.items.capacity() < place.lastTaken)
            place.items.reserve(place.lastTaken);
        place.items.push_back(make());
        return place.items.size();
    }

    // Every item added so far, place after place. Every place is held at once while they are taken, so
    // what is taken is all that was added before some moment: an item numbered under a place's lock
    // (see add) is never taken while one numbered before it, on another thread, is left behind.
    std::vector<Item> takeAll()
    {
        auto swapped = takeEachPlace();
        std::vector<Item> taken;
        for (auto &items : swapped) {
            if (items.empty())
                continue;
            if (taken.empty())
                taken.swap(items);
            else
                std::move(items.begin(), items.end(), std::back_inserter(taken));
        }
        return taken;
    }

    // The same, left as each place held them: items too big to move about are best not gathered into one.
    std::array<std::vector<Item>, kPlaces> takeEachPlace()
    {
        std::array<std::vector<Item>, kPlaces> swapped;
        std::array<std::unique_lock<std::mutex>, kPlaces> held;
        for (std::size_t i = 0; i < kPlaces; ++i)
            held[i] = std::unique_lock(m_places[i].mutex);
        for (std::size_t i = 0; i < kPlaces; ++i) {
            m_places[i].lastTaken = std::clamp(m_places[i].items.size(), kBatch, kMaxRoom);
            swapped[i].swap(m_places[i].items);
        }
        return swapped;
    }

private:
    // The most room a place makes ahead of its items.
    static constexpr std::size_t kMaxRoom = 4096;

    struct alignas(64) Place {
        std::mutex mutex;
        std::vector<Item> items;
        std::size_t lastTaken = kBatch;
    };
    std::array<Place, kPlaces> m_places;
};

} // namespace standin
