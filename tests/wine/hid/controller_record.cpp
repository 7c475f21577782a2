#include "tests/wine/hid/controller_record.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace rig {
namespace {

bool WriteWhole(const std::string& path, const void* bytes, std::size_t length)
{
    const std::string temporary = path + ".new";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = length == 0 || std::fwrite(bytes, 1, length, file) == length;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return false;
    return MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

bool WriteControllerRecord(const std::string& folder, const models::HidDevice& model)
{
    const std::vector<std::uint8_t> flash = model.Flash();
    const std::string status = ControllerStatus(model);
    const bool flashWritten = WriteWhole(folder + "\\flash.bin", flash.data(), flash.size());
    const bool statusWritten = WriteWhole(folder + "\\status.txt", status.data(), status.size());
    return flashWritten && statusWritten;
}

}  // namespace rig
