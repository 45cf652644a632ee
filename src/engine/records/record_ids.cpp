// Random UUID texts and the application's short ids, without Qt.
#include "engine/records/record_ids.h"

#include <array>
#include <cstdint>
#include <random>

namespace {

std::mt19937_64 &generator()
{
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine;
}

} // namespace

std::string makeUuidText()
{
    std::array<std::uint8_t, 16> bytes{};
    auto &engine = generator();
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t word = engine();
        for (std::size_t k = 0; k < 8; ++k, word >>= 8)
            bytes[i + k] = static_cast<std::uint8_t>(word & 0xFF);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

std::string makeShortId(std::string_view prefix)
{
    return std::string(prefix) + makeUuidText().substr(0, 8);
}
