// What oskel-update -V prints: the program's version, and each embedded image's size and SHA-256
// as the build computed them from the file it embedded.
#pragma once

#include <string>

// "oskel-update 1.2\n", then one line per mode:
// "mode 1 image (2563:0059): 32768 bytes, SHA-256 <64 hexadecimal digits>\n".
std::string VersionText();
