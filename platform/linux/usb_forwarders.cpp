// libusb's functions that the program calls (mode 1's class requests on the USB control
// endpoint), forwarded to libusb-1.0.so.0, loaded at run time (loaded_library.h) the first time a
// download of mode 1 needs it. Where it does not load, each fails as libusb does for what it does
// not support, and the first says once that mode 1 needs it.
#include <libusb.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/linux/loaded_library.h"

namespace {

// Said once, at the first call that finds libusb or one of its functions missing.
void TellMissing(const platform::LoadedLibrary& library, const char* symbol)
{
    static std::once_flag told;
    std::call_once(told, [&] {
        const std::string why = library.handle == nullptr ? "which cannot be loaded (" + library.reason + ")"
                                                          : "but this one lacks " + std::string(symbol);
        std::fprintf(stderr,
                     "oskel-update: update mode 1 needs libusb-1.0.so.0, %s: install libusb (libusb-1.0-0 on "
                     "Debian and Ubuntu, libusb1 on Fedora, libusb on Arch)\n",
                     why.c_str());
    });
}

// The library's function, or null.
template <typename Function>
Function* Usb(const char* symbol)
{
    const platform::LoadedLibrary& library = platform::UsbLibrary();
    auto* function = platform::LoadedFunction<Function>(library, symbol);
    if (function == nullptr) TellMissing(library, symbol);
    return function;
}

}  // namespace

extern "C" {

int libusb_set_option(libusb_context* context, enum libusb_option option, ...)
{
    static const auto real = Usb<decltype(libusb_set_option)>("libusb_set_option");
    if (real == nullptr) return LIBUSB_ERROR_NOT_SUPPORTED;
    // Of the options, the log level takes a value.
    va_list arguments;
    va_start(arguments, option);
    int result = LIBUSB_ERROR_INVALID_PARAM;
    switch (option) {
    case LIBUSB_OPTION_LOG_LEVEL: result = real(context, option, va_arg(arguments, int)); break;
    default: result = real(context, option); break;
    }
    va_end(arguments);
    return result;
}

int libusb_init(libusb_context** context)
{
    static const auto real = Usb<decltype(libusb_init)>("libusb_init");
    return real != nullptr ? real(context) : LIBUSB_ERROR_NOT_SUPPORTED;
}

const char* libusb_strerror(int code)
{
    static const auto real = Usb<decltype(libusb_strerror)>("libusb_strerror");
    return real != nullptr ? real(code) : "libusb-1.0.so.0 is not on this system";
}

int libusb_wrap_sys_device(libusb_context* context, intptr_t descriptor, libusb_device_handle** handle)
{
    static const auto real = Usb<decltype(libusb_wrap_sys_device)>("libusb_wrap_sys_device");
    return real != nullptr ? real(context, descriptor, handle) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_kernel_driver_active(libusb_device_handle* handle, int interfaceNumber)
{
    static const auto real = Usb<decltype(libusb_kernel_driver_active)>("libusb_kernel_driver_active");
    return real != nullptr ? real(handle, interfaceNumber) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_detach_kernel_driver(libusb_device_handle* handle, int interfaceNumber)
{
    static const auto real = Usb<decltype(libusb_detach_kernel_driver)>("libusb_detach_kernel_driver");
    return real != nullptr ? real(handle, interfaceNumber) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_attach_kernel_driver(libusb_device_handle* handle, int interfaceNumber)
{
    static const auto real = Usb<decltype(libusb_attach_kernel_driver)>("libusb_attach_kernel_driver");
    return real != nullptr ? real(handle, interfaceNumber) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable)
{
    static const auto real = Usb<decltype(libusb_set_auto_detach_kernel_driver)>("libusb_set_auto_detach_kernel_driver");
    return real != nullptr ? real(handle, enable) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_claim_interface(libusb_device_handle* handle, int interfaceNumber)
{
    static const auto real = Usb<decltype(libusb_claim_interface)>("libusb_claim_interface");
    return real != nullptr ? real(handle, interfaceNumber) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_release_interface(libusb_device_handle* handle, int interfaceNumber)
{
    static const auto real = Usb<decltype(libusb_release_interface)>("libusb_release_interface");
    return real != nullptr ? real(handle, interfaceNumber) : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request, uint16_t value,
                            uint16_t index, unsigned char* data, uint16_t length, unsigned int timeoutMs)
{
    static const auto real = Usb<decltype(libusb_control_transfer)>("libusb_control_transfer");
    return real != nullptr ? real(handle, requestType, request, value, index, data, length, timeoutMs)
                           : LIBUSB_ERROR_NOT_SUPPORTED;
}

void libusb_close(libusb_device_handle* handle)
{
    static const auto real = Usb<decltype(libusb_close)>("libusb_close");
    if (real != nullptr) real(handle);
}

}  // extern "C"
