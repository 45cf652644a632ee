// Items added by many threads at once, gathered per adding thread and taken in batches, so the adding
// threads share no lock: the history and the kept requests take what answering threads add this way.
#pragma once

#include "engine_support.h"

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
    // so whoever takes the place has every item numbered there. True when the place asks to be taken.
    template <class Make>
    bool add(Make &&make)
    {
        Place &place = m_places[placeOfThisThread(kPlaces)];
        std::lock_guard lock(place.mutex);
        place.items.push_back(make());
        return place.items.size() >= kBatch;
    }

    // Every item added so far, place after place.
    std::vector<Item> takeAll()
    {
        std::vector<Item> taken;
        for (Place &place : m_places) {
            std::lock_guard lock(place.mutex);
            if (place.items.empty())
                continue;
            if (taken.empty()) {
                taken.swap(place.items);
            } else {
                std::move(place.items.begin(), place.items.end(), std::back_inserter(taken));
                place.items.clear();
            }
        }
        return taken;
    }

private:
    struct alignas(64) Place {
        std::mutex mutex;
        std::vector<Item> items;
    };
    std::array<Place, kPlaces> m_places;
};

} // namespace standin
