// The three ways in which an image goes to the device.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Protocol 1 (the device of update mode 1): erase, program in 32-byte chunks, finish.
// Returns 1 on success, 0 on failure.
std::int32_t RunProtocol1Transfer(const std::uint8_t* image, std::uint32_t length,
                                  const std::uint8_t* table, platform::WindowHandle progressBar);

// Protocol 2 (update mode 2): start handshake and a stream of 56-byte data reports.
bool DownloadProtocol2(platform::WindowHandle dialog);

// Protocol 3 (update mode 3): begin, acknowledged 58-byte blocks, end.
bool DownloadProtocol3(platform::WindowHandle dialog);
