#include "tests/linux/usb/usbip_wire.h"

#include <algorithm>

namespace rig::usbip {
namespace {

std::uint32_t Get32(const Header& header, std::size_t at)
{
    return static_cast<std::uint32_t>(header[at]) << 24 | static_cast<std::uint32_t>(header[at + 1]) << 16 |
           static_cast<std::uint32_t>(header[at + 2]) << 8 | header[at + 3];
}

void Put32(Header& header, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) header[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

Header Returned(std::uint32_t command, std::uint32_t seqnum)
{
    Header header{};
    Put32(header, BasicField::kCommand, command);
    Put32(header, BasicField::kSeqnum, seqnum);
    return header;
}

}  // namespace

bool ParseCommand(const Header& header, Command& command, std::string& error)
{
    command = Command{};
    command.command = Get32(header, BasicField::kCommand);
    command.seqnum = Get32(header, BasicField::kSeqnum);
    if (command.command == kCmdUnlink) {
        command.unlinkSeqnum = Get32(header, UnlinkField::kUnlinkSeqnum);
        return true;
    }
    if (command.command != kCmdSubmit) {
        error = "command " + std::to_string(command.command) + " is neither a submission nor an unlink";
        return false;
    }
    const std::uint32_t direction = Get32(header, BasicField::kDirection);
    const std::uint32_t endpoint = Get32(header, BasicField::kEndpoint);
    const auto length = static_cast<std::int32_t>(Get32(header, SubmitField::kBufferLength));
    const std::uint32_t packets = Get32(header, SubmitField::kPacketCount);
    if (direction != kDirectionOut && direction != kDirectionIn) {
        error = "submission " + std::to_string(command.seqnum) + ": direction " + std::to_string(direction);
        return false;
    }
    if (endpoint >= kEndpointCount) {
        error = "submission " + std::to_string(command.seqnum) + ": endpoint " + std::to_string(endpoint);
        return false;
    }
    if (length < 0 || length > kLongestTransfer) {
        error = "submission " + std::to_string(command.seqnum) + ": buffer of " + std::to_string(length) + " bytes";
        return false;
    }
    if (packets != 0 && packets != kNotIsochronous) {
        error = "submission " + std::to_string(command.seqnum) + ": " + std::to_string(packets) +
                " isochronous packets, and this device has no isochronous endpoint";
        return false;
    }
    command.in = direction == kDirectionIn;
    command.endpoint = static_cast<std::uint8_t>(endpoint);
    command.length = static_cast<std::uint32_t>(length);
    std::copy_n(header.begin() + SubmitField::kSetup, command.setup.size(), command.setup.begin());
    return true;
}

Header ReturnSubmit(std::uint32_t seqnum, std::int32_t status, std::uint32_t actualLength)
{
    Header header = Returned(kRetSubmit, seqnum);
    Put32(header, ReturnField::kStatus, static_cast<std::uint32_t>(status));
    Put32(header, ReturnField::kActualLength, actualLength);
    Put32(header, ReturnField::kPacketCount, kNotIsochronous);
    return header;
}

Header ReturnUnlink(std::uint32_t seqnum, std::int32_t status)
{
    Header header = Returned(kRetUnlink, seqnum);
    Put32(header, UnlinkField::kStatus, static_cast<std::uint32_t>(status));
    return header;
}

}  // namespace rig::usbip
