// A field of a protocol report: where it lies, how many bytes it takes and in which order they
// come. Each protocol declares its reports' fields once (protocol/protocol*_reports.h); the
// protocols, the device models, the rigs and the tests read and write reports through those
// declarations only. Header-only, so that the models and the rigs need nothing else of the core.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ByteOrder { HighFirst, LowFirst };

// A number of 1 to 4 bytes.
struct ReportField {
    std::size_t offset;
    std::size_t width;
    ByteOrder order = ByteOrder::HighFirst;

    constexpr std::size_t End() const { return offset + width; }
};

// A run of bytes taken as they are (the data a report carries).
struct ReportBytes {
    std::size_t offset;
    std::size_t size;

    constexpr std::size_t End() const { return offset + size; }
};

// The byte of value that goes to byte i of field (from 0).
constexpr unsigned FieldShift(ReportField field, std::size_t i)
{
    return static_cast<unsigned>(8 * (field.order == ByteOrder::LowFirst ? i : field.width - 1 - i));
}

// Writes value into field; bits above the field's width are dropped.
inline void PutField(std::uint8_t* report, ReportField field, std::uint32_t value)
{
    for (std::size_t i = 0; i < field.width; ++i) {
        report[field.offset + i] = static_cast<std::uint8_t>(value >> FieldShift(field, i));
    }
}

inline std::uint32_t GetField(const std::uint8_t* report, ReportField field)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.width; ++i) {
        value |= static_cast<std::uint32_t>(report[field.offset + i]) << FieldShift(field, i);
    }
    return value;
}

// A field of one byte.
inline std::uint8_t GetByte(const std::uint8_t* report, ReportField field)
{
    return static_cast<std::uint8_t>(GetField(report, field));
}

// The sum of the bytes of run, as an unsigned number (callers keep the bits their field holds).
inline std::uint32_t ByteSum(const std::uint8_t* report, ReportBytes run)
{
    std::uint32_t sum = 0;
    for (std::size_t i = run.offset; i < run.End(); ++i) sum += report[i];
    return sum;
}
