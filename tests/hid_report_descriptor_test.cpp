// The report-descriptor parser of the Linux backend: what it reads from the descriptors the
// device models declare, and from hand-made descriptors that real devices use.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/hid_report_descriptor.h"
#include "models/models.h"
#include "models/report_descriptor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using codec::HidTopLevelCollection;

bool Parse(const Bytes& descriptor, std::vector<HidTopLevelCollection>& collections, std::string& error)
{
    Bytes exact(descriptor);  // its own allocation, so that a read past the end is caught
    return codec::ParseReportDescriptor(exact.data(), exact.size(), collections, error);
}

std::vector<std::uint8_t> IdsOf(std::uint8_t id, std::uint16_t length)
{
    if (id == 0 || length == 0) return {};
    return {id};
}

// Every model's collections, made into one device descriptor, come back as declared.
TEST(HidReportDescriptor, ModelsRoundTrip)
{
    const std::vector<std::shared_ptr<models::HidDevice>> devices = {
        models::MakeProtocol1Device(), models::MakeProtocol2Device(), models::MakeProtocol3Device(),
        models::MakeNormalController(0x045E, 0x028E)};
    for (const auto& device : devices) {
        SCOPED_TRACE(device->PathOf(0));
        std::vector<HidTopLevelCollection> parsed;
        std::string error;
        ASSERT_TRUE(Parse(models::ReportDescriptor(device->collections), parsed, error)) << error;
        ASSERT_EQ(parsed.size(), device->collections.size());
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            const models::HidCollection& declared = device->collections[i];
            SCOPED_TRACE("collection " + std::to_string(i + 1));
            EXPECT_EQ(parsed[i].usagePage, declared.usagePage);
            EXPECT_EQ(parsed[i].usage, declared.usage);
            EXPECT_EQ(parsed[i].inputReportByteLength, declared.inputLength);
            EXPECT_EQ(parsed[i].outputReportByteLength, declared.outputLength);
            EXPECT_EQ(parsed[i].featureReportByteLength, 0);
            EXPECT_EQ(parsed[i].inputReportIds, IdsOf(declared.inputReportId, declared.inputLength));
            EXPECT_EQ(parsed[i].outputReportIds, IdsOf(declared.outputReportId, declared.outputLength));
        }
    }
}

// A game pad as such devices describe themselves: a physical collection nested in the
// application collection, a long item, push and pop, and three reports of different lengths
// under one collection.
TEST(HidReportDescriptor, NestedCollectionsLongItemsPushPopAndSeveralIds)
{
    const Bytes descriptor = {
        0x05, 0x01,        // usage page (generic desktop)
        0x09, 0x05,        // usage (game pad)
        0xA1, 0x01,        // collection (application)
        0x85, 0x01,        //   report id 1
        0x09, 0x01,        //   usage (pointer)
        0xA1, 0x00,        //   collection (physical)
        0x75, 0x08,        //     report size 8
        0x95, 0x04,        //     report count 4
        0x81, 0x02,        //     input: 4 bytes in report 1
        0xC0,              //   end collection
        0xFE, 0x02, 0x10, 0xAA, 0xBB,  // a long item with 2 data bytes
        0xA4,              //   push
        0x85, 0x02,        //   report id 2
        0x75, 0x01,        //   report size 1
        0x96, 0x50, 0x00,  //   report count 80 (two data bytes)
        0x81, 0x02,        //   input: 10 bytes in report 2
        0xB4,              //   pop: report id 1, size 8, count 4 again
        0x91, 0x02,        //   output: 4 bytes in report 1
        0x85, 0x03,        //   report id 3
        0x95, 0x07,        //   report count 7
        0x91, 0x02,        //   output: 7 bytes in report 3
        0xB1, 0x02,        //   feature: 7 bytes in report 3
        0xC0,              // end collection
        0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
        0x0B, 0x02, 0x00, 0x0C, 0xFF,  // extended usage 0xFF0C:0x0002 (its own page)
        0xA1, 0x01,        // collection (application)
        0x85, 0x04,        //   report id 4
        0x95, 0x3F,        //   report count 63
        0xB1, 0x02,        //   feature only
        0xC0,              // end collection
    };
    std::vector<HidTopLevelCollection> parsed;
    std::string error;
    ASSERT_TRUE(Parse(descriptor, parsed, error)) << error;
    ASSERT_EQ(parsed.size(), 2u);

    EXPECT_EQ(parsed[0].usagePage, 0x0001);
    EXPECT_EQ(parsed[0].usage, 0x0005);
    EXPECT_EQ(parsed[0].inputReportByteLength, 11);  // 1 + report 2's 10 bytes
    EXPECT_EQ(parsed[0].outputReportByteLength, 8);  // 1 + report 3's 7 bytes
    EXPECT_EQ(parsed[0].featureReportByteLength, 8);
    EXPECT_EQ(parsed[0].inputReportIds, (Bytes{1, 2}));
    EXPECT_EQ(parsed[0].outputReportIds, (Bytes{1, 3}));
    EXPECT_EQ(parsed[0].featureReportIds, (Bytes{3}));

    EXPECT_EQ(parsed[1].usagePage, 0xFF0C);
    EXPECT_EQ(parsed[1].usage, 0x0002);
    EXPECT_EQ(parsed[1].inputReportByteLength, 0);
    EXPECT_EQ(parsed[1].outputReportByteLength, 0);
    EXPECT_EQ(parsed[1].featureReportByteLength, 64);
}

// A usage page given after the usage still names the collection: the page in force at the
// collection item counts, as both Windows and Linux read it.
TEST(HidReportDescriptor, UsagePageAtTheCollectionItemCounts)
{
    const Bytes descriptor = {0x09, 0x01, 0x06, 0x00, 0xFF, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x40,
                              0x91, 0x02, 0xC0};
    std::vector<HidTopLevelCollection> parsed;
    std::string error;
    ASSERT_TRUE(Parse(descriptor, parsed, error)) << error;
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].usagePage, 0xFF00);
    EXPECT_EQ(parsed[0].usage, 0x0001);
    EXPECT_EQ(parsed[0].outputReportByteLength, 65);  // no report ids: the 0 byte counts
    EXPECT_TRUE(parsed[0].outputReportIds.empty());
}

TEST(HidReportDescriptor, MalformedDescriptorsAreRefusedWithTheirOffset)
{
    const Bytes whole = models::ReportDescriptor(models::MakeProtocol2Device()->collections);
    struct Case {
        Bytes descriptor;
        std::string error;
    };
    const std::vector<Case> cases = {
        {Bytes(whole.begin(), whole.end() - 1), "collection not closed at byte " + std::to_string(whole.size() - 1)},
        {{0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x96, 0x40}, "item cut short at byte 6"},
        {{0x05, 0x01, 0xFE, 0x05, 0x10, 0x00}, "long item cut short at byte 2"},
        {{0x05, 0x01, 0xFE, 0x00}, "long item cut short at byte 2"},
        {{0xC0}, "end of a collection that was never opened at byte 0"},
        {{0xB4}, "pop without push at byte 0"},
        {{0xA4, 0xA4, 0xA4, 0xA4, 0xA4}, "more than 4 pushed global states at byte 4"},
        {{0xA1, 0x01, 0x85, 0x00, 0xC0}, "report id 0 at byte 2"},
        {{0xA1, 0x01, 0x75, 0xFF, 0x96, 0xFF, 0xFF, 0x81, 0x02, 0xC0}, "report longer than 65534 bytes at byte 7"},
        {{}, "no top-level collection"},
        {{0x05, 0x01, 0x09, 0x05}, "no top-level collection"},
    };
    for (const Case& c : cases) {
        std::vector<HidTopLevelCollection> parsed;
        std::string error;
        EXPECT_FALSE(Parse(c.descriptor, parsed, error));
        EXPECT_EQ(error, c.error);
    }

    // What was complete before the break is kept.
    std::vector<HidTopLevelCollection> parsed;
    std::string error;
    EXPECT_FALSE(Parse(Bytes(whole.begin(), whole.end() - 1), parsed, error));
    EXPECT_EQ(parsed.size(), 2u);
}

}  // namespace
