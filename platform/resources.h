// The program's own resources.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/outcome.h"

namespace platform {

// The firmware image resource with this id (type "KT_0575", language 2052). When it is done,
// data points to size bytes that stay valid for the life of the process.
Outcome LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size);

}  // namespace platform
