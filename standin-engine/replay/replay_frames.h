// One kept request's frame on disk, as the replay store appends it to its segment files and reads it
// back: a magic, the payload's size and checksum, then the payload.
#pragma once

#include "net/proxied_message.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace standin::replay {

// The frame's head: the magic, the payload's size and checksum.
constexpr std::size_t kFrameBytes = 4 + 4 + 8;

// What a request holds in texts: method, target, field names and values, body.
std::size_t requestSize(const ProxiedRequest &request);

// The longest id the history keeps: its numbers stay below the int64 maximum.
constexpr std::string_view kLongestId = "t-9223372036854775806";

// What encodeEntry makes of the request at most (less when it leaves the proxy's credentials out).
inline std::size_t framedSize(std::string_view id, const std::string &time, const ProxiedRequest &request)
{
    return kFrameBytes + 6 * 4 + 8 * request.headers.size() + id.size() + time.size() + requestSize(request);
}

// The request in its frame. The proxy's own credentials are never kept: the forwarder never sends them on.
// Written in one piece of exactly its size.
std::string encodeEntry(const std::string &id, const std::string &time, const ProxiedRequest &request);

struct DecodedEntry {
    std::string id;
    std::string time;
    ProxiedRequest request;
};

// The payload's size from a frame at the start of `bytes`, when the frame is one of ours.
std::optional<std::size_t> payloadSize(std::string_view bytes);

// The entry in a whole frame, when its checksum and fields hold.
std::optional<DecodedEntry> decodeEntry(std::string_view bytes);

} // namespace standin::replay
