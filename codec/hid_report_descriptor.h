// The top-level collections of a HID report descriptor, as a class driver that makes one
// interface per top-level collection (Windows) reports them: each collection's usage page and
// usage, the report ids it uses, and its input and output report lengths.
//
// Portable: it reads the descriptor's bytes only. Every byte is untrusted; a descriptor that
// breaks the item grammar is refused with the reason and the byte offset where it broke.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace codec {

// One top-level collection. A length counts the report-id byte as Windows counts it: 1 + the
// largest report of that direction in the collection (the 1 is the id byte, or the 0 byte that
// stands for it when the descriptor numbers no reports); 0 when the collection has no report of
// that direction. The id lists hold each report id once, in the order of first use; they are
// empty when the descriptor numbers no reports.
struct HidTopLevelCollection {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::vector<std::uint8_t> inputReportIds;
    std::vector<std::uint8_t> outputReportIds;
    std::vector<std::uint8_t> featureReportIds;
};

// Parses a whole descriptor into its top-level collections, in descriptor order. False when the
// descriptor is malformed; error then names what broke and at which byte, and collections holds
// the collections that were complete before it.
bool ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size,
                           std::vector<HidTopLevelCollection>& collections, std::string& error);

}  // namespace codec
