/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#pragma once

#include <fwupdplugin.h>

#define FU_TYPE_OSKEL_CONTROLLER_DEVICE (fu_oskel_controller_device_get_type())
G_DECLARE_FINAL_TYPE(FuOskelControllerDevice,
		     fu_oskel_controller_device,
		     FU,
		     OSKEL_CONTROLLER_DEVICE,
		     FuHidDevice)
