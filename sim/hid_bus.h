// The virtual HID bus: the devices that the simulated platform enumerates and talks to.
//
// The devices are the models of models/hid_device.h. The bus plays the HID class driver too:
// every handle belongs to one top-level collection, and a report that its collection does not
// declare (length or report id) is refused before the device sees it, as the system's class driver refuses it. The bus applies the generic faults (refused,
// never completing, removal) before the model sees an operation, counts reports, traces every
// operation and keeps track of open handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "models/hid_device.h"
#include "platform/outcome.h"
#include "platform/types.h"

namespace sim {

// Plugs a device in; its interfaces are enumerated after those already present.
void Plug(std::shared_ptr<models::HidDevice> device);
// Unplugs a device: it leaves the enumeration and every operation on its handles fails.
void Unplug(const std::shared_ptr<models::HidDevice>& device);
// Removes every device and forgets every handle (a fresh world).
void ResetBus();
// Fails the enumeration itself.
void SetEnumerationFails(bool fails);

// Handles opened through the seam and not yet closed.
int OpenHandleCount();
int OpenReadWriteHandleCount();

// The device and collection behind a handle (null when the handle is not open).
std::shared_ptr<models::HidDevice> DeviceOfHandle(platform::DeviceHandle handle);

// Every present interface path, in enumeration order.
std::vector<std::string> PresentPaths();

// The operations of the simulated HID backend (sim/backend/hid_sim.cpp), each ending as the
// seam's calls do (platform/outcome.h).
// Adds the present interface paths to paths.
platform::Outcome BusEnumerate(std::vector<std::string>& paths);
// A refused open ends with the system error that Windows gives for it.
platform::Opened BusOpen(const std::string& path, bool readWrite);
platform::Outcome BusGetAttributes(platform::DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId);
// The declaration of the handle's collection.
platform::Outcome BusGetCollection(platform::DeviceHandle handle, models::HidCollection& collection);
platform::Outcome BusWrite(platform::DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                           std::uint32_t timeLimitMs);
platform::Outcome BusRead(platform::DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                          std::uint32_t timeLimitMs);
platform::Outcome BusSetOutputReport(platform::DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                                     std::uint32_t timeLimitMs);
platform::Outcome BusGetInputReport(platform::DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                                    std::uint32_t timeLimitMs);
// The devices keep no queue of input reports: a flush only shows in the trace.
platform::Outcome BusFlushInput(platform::DeviceHandle handle);
void BusClose(platform::DeviceHandle handle);

}  // namespace sim
