#include "tests/rig/controller_status.h"

#include <cstdio>

namespace rig {

std::string ControllerStatus(const models::HidDevice& model)
{
    char line[256];
    std::snprintf(line, sizeof line,
                  "complete=%d reports=%u accepted=%u refused=%u replies=%u stack-refusals=%u protocol-errors=%zu\n",
                  model.DownloadComplete() ? 1 : 0, static_cast<unsigned>(model.reportsSeen),
                  static_cast<unsigned>(model.reportsAccepted),
                  static_cast<unsigned>(model.reportsSeen - model.reportsAccepted),
                  static_cast<unsigned>(model.repliesSeen), static_cast<unsigned>(model.stackRefusals),
                  model.protocolErrors.size());
    std::string status = line;
    for (const std::string& error : model.protocolErrors) status += "error " + error + "\n";
    return status;
}

}  // namespace rig
