#include "tests/wine/usb/request_log.h"

#include <cstdio>

#include "sim/trace.h"
#include "codec/hex_text.h"

std::string RequestLogLine(const sim::UsbRequestRecord& record)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%06x", static_cast<unsigned>(record.code));
    return std::string("request ") + (record.succeeded ? "ok " : record.neverAnswered ? "pending " : "fail ") + code + " " +
           codec::Hex(record.input.data(), record.input.size()) + " " + std::to_string(record.outputSize) +
           " " + codec::Hex(record.output.data(), record.output.size()) + " " + record.path;
}

std::string OpenLogLine(const std::string& path, bool opened)
{
    return std::string("open ") + (opened ? "ok " : "fail ") + path;
}

std::string CloseLogLine(const std::string& path)
{
    return "close " + path;
}

std::string CancelLogLine(const std::string& path, bool ended)
{
    return std::string("cancel ") + (ended ? "ended " : "ignored ") + path;
}

std::string CleanupLogLine(const std::string& path)
{
    return "cleanup ended " + path;
}
