/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#pragma once

#include <fwupdplugin.h>

#define FU_TYPE_OSKEL_CONTROLLER_FIRMWARE (fu_oskel_controller_firmware_get_type())
G_DECLARE_FINAL_TYPE(FuOskelControllerFirmware,
		     fu_oskel_controller_firmware,
		     FU,
		     OSKEL_CONTROLLER_FIRMWARE,
		     FuFirmware)

FuFirmware *
fu_oskel_controller_firmware_new(void);
void
fu_oskel_controller_firmware_set_mode(FuOskelControllerFirmware *self,
				      gsize size_min,
				      gsize buffer_size,
				      guint8 fill) G_GNUC_NON_NULL(1);
GBytes *
fu_oskel_controller_firmware_get_buffer(FuOskelControllerFirmware *self, GError **error)
    G_GNUC_NON_NULL(1);
