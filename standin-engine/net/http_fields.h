// Field lookups by a field's code, and keep-alive as Beast reads and writes it.
#pragma once

#include "net/net_limits.h"

#include <cstddef>

namespace standin::net {

// Fields by their name's code, walked in order. A message has a few, and Beast's lookups by name
// search a tree comparing names as text, which costs more on every request than the walk.
template <class Fields>
auto findField(Fields &fields, http::field name)
{
    auto at = fields.begin();
    while (at != fields.end() && at->name() != name)
        ++at;
    return at;
}

template <class Fields>
std::size_t countFields(const Fields &fields, http::field name)
{
    std::size_t count = 0;
    for (const auto &field : fields)
        count += field.name() == name;
    return count;
}

template <class Fields>
void eraseFields(Fields &fields, http::field name)
{
    for (auto at = fields.begin(); at != fields.end();)
        at = at->name() == name ? fields.erase(at) : std::next(at);
}

// What Beast's keep_alive() answers for a message of `version` with these fields.
bool keepsAlive(const http::fields &fields, unsigned version);

// Beast's keep_alive(keep) for a message whose Connection field is already gone (dropped as hop by hop).
void markKeepAlive(http::fields &fields, unsigned version, bool keep);

} // namespace standin::net
