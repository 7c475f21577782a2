// The program's own resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The firmware image resource with this id (type "KT_0575", language 2052).
// On success data points to size bytes that stay valid for the life of the process.
bool LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size);

}  // namespace platform
