// The name of an interface's download claim on Windows: a semaphore in the global namespace, named
// by a 64-bit digest (FNV-1a) of the interface path with its ASCII letters lowercased, since an
// object's name may hold no backslash beyond its namespace and is at most MAX_PATH long. Written
// once for the Windows backend and for the tests that make a claim of their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

inline std::string DownloadClaimName(const std::string& path)
{
    std::uint64_t digest = 0xCBF29CE484222325ull;
    for (char c : path) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        digest ^= static_cast<unsigned char>(c);
        digest *= 0x100000001B3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Global\\OskelUpdater.Download.%016llx", static_cast<unsigned long long>(digest));
    return name;
}

}  // namespace platform
