// Whether the controller's declared reports can carry a protocol's reports.
#pragma once

#include <cstddef>

// True when the collection behind the link's transfer handle declares an output report of at
// least outputLength bytes and, for a protocol that reads (inputLength above 0), an input report
// of at least inputLength bytes; lengths count the report-id byte. Otherwise a debugger line names
// the declared and the needed sizes, and the result is false: nothing must be sent then. Caps that
// cannot be read are no reason to refuse; the class driver itself refuses a report that does not fit.
bool TransferHandleCarries(std::size_t outputLength, std::size_t inputLength);
