// Builds a parsed document from parse events (JSON or YAML), counting the memory its values take.
#pragma once

#include "core/bounded_input.h"

#include <deque>
#include <memory>

namespace standin {

// Why a parse stopped early: a bound passed, or the text is not what it claims to be.
struct ParseStopped {
    std::string reason;
};

// Builds a document from parse events, counting the memory its values take as they arrive and handing
// the elements of streamed arrays over one at a time.
class DocumentBuilder final {
public:
    using json = nlohmann::json;

    DocumentBuilder(const ParseBounds &bounds, const ElementStream *stream)
        : m_maxHeld(bounds.maxHeldBytes)
        , m_stream(stream)
    {
    }
    // What a stopped parse had built goes without the destructor's extra copy of large arrays.
    ~DocumentBuilder()
    {
        for (Frame &frame : m_frames) {
            for (json &element : frame.elements)
                releaseDocument(element);
            if (frame.element)
                releaseDocument(*frame.element);
        }
        releaseDocument(m_root);
    }
    DocumentBuilder(const DocumentBuilder &) = delete;
    DocumentBuilder &operator=(const DocumentBuilder &) = delete;

    // What a value costs in memory where it is placed: its slot, and the text or container it owns.
    static size_t costOf(const json &value)
    {
        if (value.is_string())
            return kSlot + kText + value.get_ref<const std::string &>().size();
        if (value.is_object())
            return kSlot + kObject;
        if (value.is_array())
            return kSlot + kArray;
        return kSlot;
    }

    // A scalar, or (with `cost`) a copy of a value already counted once (a YAML alias).
    void value(json value, std::optional<size_t> cost = std::nullopt)
    {
        const size_t before = m_held;
        charge(cost.value_or(costOf(value)));
        json *placed = place(std::move(value), before);
        m_lastCost = cost.value_or(costOf(*placed));
        m_last = placed;
        finishElementIfStreamed();
    }

    void begin(json container)
    {
        if (m_frames.size() >= static_cast<size_t>(kMaxNestingDepth))
            throw ParseStopped {"document nested too deeply"};
        const size_t before = m_held;
        charge(costOf(container));
        const bool isArray = container.is_array();
        json *placed = place(std::move(container), before);
        if (!m_frames.empty())
            m_path.push_back(m_frames.back().value->is_object() ? std::optional(m_key) : std::nullopt);
        m_frames.emplace_back();
        m_frames.back().value = placed;
        m_frames.back().heldBefore = before;
        m_frames.back().streamed = isArray && m_stream && m_stream->streams(m_path);
    }

    void end()
    {
        if (Frame &top = m_frames.back(); !top.elements.empty()) {
            auto &array = top.value->get_ref<json::array_t &>();
            array.reserve(top.elements.size());
            for (json &element : top.elements)
                array.push_back(std::move(element));
            std::deque<json>().swap(top.elements);
        }
        const size_t before = m_frames.back().heldBefore;
        m_last = m_frames.back().value;
        m_frames.pop_back();
        if (!m_frames.empty())
            m_path.pop_back();
        m_lastCost = m_held - before;
        finishElementIfStreamed();
    }

    void key(std::string key)
    {
        charge(kMember + key.size());
        m_member = &(*m_frames.back().value)[key];
        m_key = std::move(key);
    }

    // Memory held for something besides the document's own values (a YAML anchor's copy).
    void charge(size_t bytes)
    {
        m_held += bytes;
        if (m_held > m_maxHeld)
            throw ParseStopped {"document too large (it takes more than "
                                + std::to_string(m_maxHeld / (1024 * 1024)) + " MB to hold once read)"};
    }

    bool inObject() const { return !m_frames.empty() && m_frames.back().value->is_object(); }
    // The value completed last (null after a streamed element was handed over), and its cost.
    const json *last() const { return m_last; }
    size_t lastCost() const { return m_lastCost; }
    json takeRoot() { return std::move(m_root); }

private:
    // A value in an array: its elements are gathered in blocks and moved into one vector of the right size
    // once complete, so for a moment they are held twice, with the allocator's rounding (a vector grown by
    // doubling would hold up to three times as much, and leave the smaller copies behind in the allocator).
    static constexpr size_t kSlot = 36;
    static constexpr size_t kText = 32;   // a string's own object
    static constexpr size_t kObject = 48; // a map's header
    static constexpr size_t kArray = 24;  // a vector's header
    static constexpr size_t kMember = 96; // a map node, its key's string object and the allocator's rounding

    struct Frame {
        json *value = nullptr;
        size_t heldBefore = 0;
        bool streamed = false;
        std::unique_ptr<json> element;     // a streamed array's element being built
        size_t elementHeldBefore = 0;
        std::deque<json> elements;         // a kept array's elements until it is complete
    };

    json *place(json value, size_t heldBefore)
    {
        if (m_frames.empty()) {
            m_root = std::move(value);
            return &m_root;
        }
        Frame &top = m_frames.back();
        if (top.value->is_object()) {
            *m_member = std::move(value);
            return m_member;
        }
        if (top.streamed) {
            top.elementHeldBefore = heldBefore;
            top.element = std::make_unique<json>(std::move(value));
            return top.element.get();
        }
        top.elements.push_back(std::move(value));
        return &top.elements.back();
    }

    // Once an element of a streamed array is complete it goes to the receiver and is no longer held.
    void finishElementIfStreamed()
    {
        if (m_frames.empty() || !m_frames.back().streamed || !m_frames.back().element)
            return;
        Frame &top = m_frames.back();
        json element = std::move(*top.element);
        top.element.reset();
        m_held = top.elementHeldBefore;
        m_last = nullptr;
        std::string error;
        if (!m_stream->take(m_path, std::move(element), error))
            throw ParseStopped {error};
    }

    size_t m_maxHeld;
    const ElementStream *m_stream;
    json m_root;
    std::vector<Frame> m_frames;
    DocumentPath m_path; // of the innermost open container
    json *m_member = nullptr;
    std::string m_key;
    size_t m_held = 0;
    const json *m_last = nullptr;
    size_t m_lastCost = 0;
};

} // namespace standin
