// The checks on what a device returns: the configuration scan and the string reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/usb_hid_descriptors.h"
#include "device/usb_descriptors.h"
#include "sim/usb_tree.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Join(std::vector<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Scans a copy that sits at the very end of its own allocation, so that any read past the
// given length is caught by the address sanitizer.
bool Scan(const Bytes& set)
{
    std::vector<std::uint8_t> exact(set);
    return ConfigurationNamesString(exact.data(), exact.size());
}

const Bytes kConfiguration = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
const Bytes kInterface = sim::InterfaceDescriptor(0, 3, 0);
const Bytes kNamedInterface = sim::InterfaceDescriptor(1, 3, 7);
const Bytes kEndpoint = sim::EndpointDescriptor(0x81, 3, 64, 4);
const Bytes kHid = usb::HidDescriptor({sim::kHidReportDescriptorLength});

TEST(ConfigurationScan, FindsInterfaceStringBehindOtherDescriptors)
{
    EXPECT_TRUE(Scan(Join({kConfiguration, kInterface, kHid, kEndpoint, kNamedInterface})));
    EXPECT_FALSE(Scan(Join({kConfiguration, kInterface, kHid, kEndpoint})));
}

TEST(ConfigurationScan, FindsConfigurationString)
{
    Bytes named = kConfiguration;
    named[6] = 4;
    EXPECT_TRUE(Scan(Join({named, kInterface})));
}

TEST(ConfigurationScan, AcceptsInterfaceDescriptorsOfTwelveBytes)
{
    Bytes twelve = kNamedInterface;
    twelve.resize(12, 0);
    twelve[0] = 12;
    EXPECT_TRUE(Scan(Join({kConfiguration, twelve})));
    Bytes plain = kInterface;
    plain.resize(12, 0);
    plain[0] = 12;
    EXPECT_TRUE(Scan(Join({kConfiguration, plain, kNamedInterface})));
}

TEST(ConfigurationScan, WrongSizedConfigurationOrInterfaceEndsTheScan)
{
    Bytes longConfiguration = kConfiguration;
    longConfiguration.push_back(0);
    longConfiguration[0] = 10;
    EXPECT_FALSE(Scan(Join({longConfiguration, kNamedInterface})));
    Bytes shortInterface(kInterface.begin(), kInterface.begin() + 8);
    shortInterface[0] = 8;
    EXPECT_FALSE(Scan(Join({kConfiguration, shortInterface, kNamedInterface})));
}

TEST(ConfigurationScan, ZeroLengthEndsTheScan)
{
    EXPECT_FALSE(Scan(Join({kConfiguration, Bytes{0, 5, 0}, kNamedInterface})));
}

TEST(ConfigurationScan, DescriptorReachingPastTheEndEndsTheScan)
{
    Bytes truncated = kNamedInterface;
    truncated.pop_back();  // declares 9 bytes, 8 remain
    EXPECT_FALSE(Scan(Join({kConfiguration, truncated})));
}

TEST(ConfigurationScan, FewerThanThreeBytesLeftEndTheScan)
{
    EXPECT_FALSE(Scan(Join({kConfiguration, Bytes{2, 4}})));
    EXPECT_FALSE(Scan(Bytes{}));
    EXPECT_FALSE(Scan(Bytes{9}));
}

TEST(ConfigurationScan, OneByteDescriptorsAreSteppedOver)
{
    EXPECT_TRUE(Scan(Join({kConfiguration, Bytes{1, 1, 1}, kNamedInterface})));
}

TEST(ConfigurationScan, OtherTypesArePassedOverWhateverTheirContent)
{
    Bytes vendor = {9, 0x24, 0, 0, 0, 0, 9, 9, 9};  // would look named if read as an interface
    EXPECT_FALSE(Scan(Join({kConfiguration, vendor})));
}

TEST(DeviceDescriptor, NamesAStringThroughAnyOfItsThreeIndices)
{
    for (int which = 0; which < 3; ++which) {
        auto d = sim::DeviceDescriptor(1, 2, 0, which == 0, which == 1, which == 2);
        EXPECT_TRUE(DeviceDescriptorNamesString(d.data()));
    }
    EXPECT_FALSE(DeviceDescriptorNamesString(sim::DeviceDescriptor(1, 2, 0, 0, 0, 0).data()));
}

// A 267-byte reply record with the descriptor bytes after the 12-byte header.
Bytes Reply(const Bytes& descriptor)
{
    Bytes reply(267, 0);
    std::copy(descriptor.begin(), descriptor.end(), reply.begin() + 12);
    return reply;
}

TEST(StringReply, EighteenBytesWithLengthSixIsAccepted)
{
    EXPECT_EQ(AcceptStringReply(Reply({6, 3, 'a', 0, 'b', 0}).data(), 267, 18), 2);
}

TEST(StringReply, OddLengthIsRejected)
{
    EXPECT_EQ(AcceptStringReply(Reply({7, 3, 'a', 0, 'b', 0, 'c'}).data(), 267, 19), -1);
}

TEST(StringReply, LengthOtherThanTheBytesReturnedIsRejected)
{
    EXPECT_EQ(AcceptStringReply(Reply({6, 3, 'a', 0, 'b', 0}).data(), 267, 20), -1);
    EXPECT_EQ(AcceptStringReply(Reply({8, 3, 'a', 0, 'b', 0}).data(), 267, 18), -1);
}

TEST(StringReply, WrongTypeIsRejected)
{
    EXPECT_EQ(AcceptStringReply(Reply({6, 2, 'a', 0, 'b', 0}).data(), 267, 18), -1);
}

TEST(StringReply, EmptyStringIsAcceptedWithNoCharacters)
{
    EXPECT_EQ(AcceptStringReply(Reply({2, 3}).data(), 267, 14), 0);
}

TEST(StringReply, TooFewBytesOrMoreThanTheRecordAreRejected)
{
    // Fewer than the two descriptor header bytes: the zero-filled record is not read as data.
    for (std::uint32_t returned : {0u, 2u, 12u, 13u}) {
        EXPECT_EQ(AcceptStringReply(Reply({}).data(), 267, returned), -1) << returned;
    }
    Bytes big(300, 0);
    big[12] = 254;
    big[13] = 3;
    EXPECT_EQ(AcceptStringReply(big.data(), 267, 266), 126);
    EXPECT_EQ(AcceptStringReply(big.data(), 267, 268), -1);
}

TEST(IdentificationText, LowersAsciiAndFindsEitherNeedle)
{
    std::string text = "Pad DRIM UPDATA2 \xC3\x89";
    EXPECT_TRUE(IdentificationTextMatches(text.data()));
    EXPECT_EQ(text, "pad drim updata2 \xC3\x89");
    for (std::string yes : {"rq4180", "RQ4180", "xRq4180y", "drim updata2"}) {
        EXPECT_TRUE(IdentificationTextMatches(yes.data())) << yes;
    }
    for (std::string no : {"", "rq418", "r q4180", "drim  updata2", "updata2 drim"}) {
        EXPECT_FALSE(IdentificationTextMatches(no.data())) << no;
    }
}

}  // namespace
