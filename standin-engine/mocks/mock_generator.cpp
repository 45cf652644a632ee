// The stand-in engine's built-in mock body generator.
#include "mocks/mock_generator.h"

#include "core/bounded_input.h"
#include "core/engine_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace standin {

using nlohmann::json;

namespace {

constexpr std::array kFirstNames = {"Ada", "Grace", "Linus", "Margaret", "Alan", "Katherine", "Dennis", "Barbara",
                                    "Ken", "Frances", "Edsger", "Radia"};
constexpr std::array kLastNames = {"Lovelace", "Hopper", "Torvalds", "Hamilton", "Turing", "Johnson", "Ritchie",
                                   "Liskov", "Thompson", "Allen", "Dijkstra", "Perlman"};
constexpr std::array kWords = {"alpha", "bravo", "cobalt", "delta", "ember", "falcon", "granite", "harbor",
                               "indigo", "juniper", "kestrel", "lumen", "meadow", "nimbus", "orbit", "prism"};

template <class List>
std::string pick(const List &list, std::mt19937_64 &random)
{
    return list[std::uniform_int_distribution<size_t>(0, list.size() - 1)(random)];
}

bool contains(const std::string &haystack, const char *needle)
{
    return haystack.find(needle) != std::string::npos;
}

bool looksLikeTimestamp(const std::string &text)
{
    return text.size() >= 10 && std::isdigit(static_cast<unsigned char>(text[0])) && text[4] == '-' && text[7] == '-';
}

std::string randomTimestamp(std::mt19937_64 &random, bool withTime)
{
    // A moment in 2024–2026, so generated data looks current without depending on the clock.
    const auto base = std::chrono::sys_days(std::chrono::year(2024) / 1 / 1);
    const auto offset = std::chrono::seconds(std::uniform_int_distribution<long long>(0, 3LL * 365 * 86400)(random));
    const std::string text = isoTime(base + offset);
    return withTime ? text.substr(0, 19) + "Z" : text.substr(0, 10);
}

std::string idLike(const std::string &example, std::mt19937_64 &random)
{
    // Keep a prefix such as "usr_" or "prod-" and replace the rest with digits of the same length.
    const size_t cut = example.find_last_of("_-");
    const std::string prefix = cut == std::string::npos ? "" : example.substr(0, cut + 1);
    const size_t digits = std::max<size_t>(2, example.size() - prefix.size());
    std::string out = prefix;
    for (size_t i = 0; i < digits; ++i)
        out.push_back(static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(random)));
    return out;
}

std::string varyString(const std::string &example, const std::string &field, std::mt19937_64 &random)
{
    const std::string name = lowerAscii(field);
    if (name == "id" || (name.size() > 3 && name.compare(name.size() - 3, 3, "_id") == 0)
        || (name.size() > 2 && name.compare(name.size() - 2, 2, "id") == 0 && !example.empty()))
        return idLike(example, random);
    if (contains(name, "email")) {
        const std::string user = lowerAscii(pick(kFirstNames, random)) + "." + lowerAscii(pick(kLastNames, random));
        const size_t at = example.find('@');
        return user + (at == std::string::npos ? "@example.com" : example.substr(at));
    }
    if (contains(name, "url") || example.rfind("http", 0) == 0)
        return "https://example.com/" + pick(kWords, random) + "/" + std::to_string(random() % 1000);
    if (looksLikeTimestamp(example))
        return randomTimestamp(random, example.size() > 10);
    if (name == "name" || contains(name, "full_name") || contains(name, "fullname") || contains(name, "author"))
        return pick(kFirstNames, random) + " " + pick(kLastNames, random);
    if (contains(name, "first"))
        return pick(kFirstNames, random);
    if (contains(name, "last"))
        return pick(kLastNames, random);
    if (example.empty())
        return {};
    // Short codes and enum-like words keep their case style; other text becomes a few words.
    const size_t words = std::clamp<size_t>(static_cast<size_t>(std::count(example.begin(), example.end(), ' ')) + 1, 1, 8);
    std::string out;
    for (size_t i = 0; i < words; ++i) {
        if (i)
            out += ' ';
        out += pick(kWords, random);
    }
    if (std::all_of(example.begin(), example.end(), [](char c) { return !std::islower(static_cast<unsigned char>(c)); }))
        std::transform(out.begin(), out.end(), out.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

json varyNumber(const json &example, std::mt19937_64 &random)
{
    if (example.is_number_float()) {
        const double magnitude = std::max(1.0, std::fabs(example.get<double>()) * 2);
        const double value = std::uniform_real_distribution<double>(0, magnitude)(random);
        return std::round(value * 100) / 100;
    }
    const long long base = example.is_number_unsigned() ? static_cast<long long>(std::min<std::uint64_t>(
                                                              example.get<std::uint64_t>(), 1ULL << 53))
                                                        : example.get<long long>();
    const long long magnitude = std::max<long long>(10, std::llabs(base) * 2);
    const long long value = std::uniform_int_distribution<long long>(0, magnitude)(random);
    return base < 0 ? -value : value;
}

json defaultExample()
{
    return json {{"id", "usr_0001"}, {"name", "Ada Lovelace"}, {"email", "ada@example.com"},
                 {"created_at", "2026-01-01T09:00:00Z"}};
}

// What one body may still take: values made, and bytes of text read from the example and written.
struct Budget {
    size_t values = kMaxGeneratedValues;
    size_t bytes = kMaxGeneratedBytes;
    bool exceeded = false;

    bool take(size_t valueCount, size_t byteCount)
    {
        if (exceeded || valueCount > values || byteCount > bytes) {
            exceeded = true;
            return false;
        }
        values -= valueCount;
        bytes -= byteCount;
        return true;
    }
};

json varyValue(const json &example, const std::string &fieldName, int count, std::mt19937_64 &random,
               Budget &budget)
{
    if (!budget.take(1, 1))
        return nullptr;
    switch (example.type()) {
    case json::value_t::object: {
        json out = json::object();
        for (auto it = example.begin(); it != example.end() && !budget.exceeded; ++it) {
            if (!budget.take(0, it.key().size()))
                break;
            out[it.key()] = varyValue(it.value(), it.key(), count, random, budget);
        }
        return out;
    }
    case json::value_t::array: {
        json out = json::array();
        if (example.empty())
            return out;
        for (int i = 0; i < count && !budget.exceeded; ++i)
            out.push_back(varyValue(example.front(), fieldName, count, random, budget));
        return out;
    }
    case json::value_t::string: {
        // Reading a long example string costs its length each time, as does what is made from it.
        const std::string &text = example.get_ref<const std::string &>();
        if (!budget.take(0, text.size()))
            return nullptr;
        std::string made = varyString(text, fieldName, random);
        if (!budget.take(0, made.size()))
            return nullptr;
        return made;
    }
    case json::value_t::boolean:
        return std::uniform_int_distribution<int>(0, 1)(random) == 1;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
        return varyNumber(example, random);
    default:
        return example;
    }
}

} // namespace

std::optional<std::string> generateMockBody(std::string_view example, std::int64_t seed, int count,
                                            std::string &error)
{
    std::mt19937_64 random(static_cast<std::uint64_t>(seed));
    json shape = defaultExample();
    const bool blank = example.find_first_not_of(" \t\r\n") == std::string_view::npos;
    if (!blank) {
        auto parsed = parseBoundedJson(example, error);
        if (!parsed) {
            if (example.size() > kMaxBodyBytes || error == "document nested too deeply")
                return std::nullopt;
            // Plain text gets plain text of about the same length back.
            error.clear();
            return varyString(sanitizeUtf8(example), "", random);
        }
        shape = std::move(*parsed);
    }
    Budget budget;
    const json body = varyValue(shape, "", std::clamp(count, 1, kMaxGeneratedItems), random, budget);
    if (budget.exceeded) {
        error = "the generated body would be too large; use a smaller count";
        return std::nullopt;
    }
    const std::string text = body.dump(2, ' ', false, json::error_handler_t::replace);
    if (text.size() > kMaxBodyBytes) {
        error = "the generated body would be too large; use a smaller count";
        return std::nullopt;
    }
    return text;
}

} // namespace standin
