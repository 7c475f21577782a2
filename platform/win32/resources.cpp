// The firmware images carried in the program's own resources.
#include "platform/resources.h"

#include <windows.h>

namespace platform {

namespace {

constexpr const char* kImageType = "KT_0575";
constexpr WORD kImageLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052

}  // namespace

bool LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    if (id <= 0 || id > 0xFFFF) return false;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceExA(module, kImageType, MAKEINTRESOURCEA(id), kImageLanguage);
    if (resource == nullptr) return false;
    DWORD length = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return false;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return false;
    data = static_cast<const std::uint8_t*>(bytes);
    size = length;
    return true;
}

}  // namespace platform
