// The three ways in which an image goes to the device.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Protocol 1 (device 0x2563:0x0059): erase, program in 32-byte chunks, finish.
// Returns 1 on success, 0 on failure.
std::int32_t RunProtocol1Transfer(const std::uint8_t* image, std::uint32_t length,
                                  const std::uint8_t* table, platform::WindowHandle progressBar);

// Protocol 2 (device 0x2563:0x1818): start handshake and a stream of 56-byte data reports.
bool DownloadProtocol2(platform::WindowHandle dialog);

// Protocol 3 (device 0x0461:0x4D81): begin, acknowledged 58-byte blocks, end.
bool DownloadProtocol3(platform::WindowHandle dialog);
