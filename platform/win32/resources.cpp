// The firmware images carried in the program's own resources.
#include "platform/resources.h"

#include <windows.h>

#include <string>

#include "platform/win32/system_error.h"

namespace platform {

namespace {

constexpr const char* kImageType = "KT_0575";
constexpr WORD kImageLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);  // 2052

}  // namespace

Outcome LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    const std::string image = "the image resource " + std::to_string(id);
    if (id <= 0 || id > 0xFFFF) return Failure(Status::Failed, image, "not a resource id");
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceExA(module, kImageType, MAKEINTRESOURCEA(id), kImageLanguage);
    if (resource == nullptr) return Failure(Status::Failed, "FindResourceEx of " + image, SystemErrorText(GetLastError()));
    DWORD length = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return Failure(Status::Failed, "LoadResource of " + image, SystemErrorText(GetLastError()));
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return Failure(Status::Failed, "LockResource of " + image, "no data");
    data = static_cast<const std::uint8_t*>(bytes);
    size = length;
    return Done();
}

}  // namespace platform
