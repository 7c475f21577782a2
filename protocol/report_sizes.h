// Whether the controller's declared reports fit a protocol's reports, as the system's HID class
// driver checks them.
#pragma once

#include <cstddef>

// The class driver refuses an output report whose length differs from the collection's declared
// output report, and an input request whose buffer is shorter than the declared input report.
// True when the collection behind the link's transfer handle declares an output report of exactly
// outputLength bytes and, for a protocol that reads (inputBufferLength above 0), an input report
// that fits its buffer of inputBufferLength bytes and carries more than the report id. The
// protocols read their replies as acknowledgements and look at nothing in them, so any declared
// input report that fits will do. Lengths count the report-id byte. Otherwise a debugger line
// names the declared and the needed sizes, and the result is false: nothing must be sent then.
// Caps that cannot be read are no reason to refuse; the class driver itself refuses a report that
// does not fit.
bool TransferHandleCarries(std::size_t outputLength, std::size_t inputBufferLength);
