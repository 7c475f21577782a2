/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#include "config.h"

#include "fu-oskel-controller-device.h"
#include "fu-oskel-controller-firmware.h"
#include "fu-oskel-controller-plugin.h"

struct _FuOskelControllerPlugin {
	FuPlugin parent_instance;
};

G_DEFINE_TYPE(FuOskelControllerPlugin, fu_oskel_controller_plugin, FU_TYPE_PLUGIN)

static void
fu_oskel_controller_plugin_init(FuOskelControllerPlugin *self)
{
	/* opening a controller for its setup unbinds usbhid from it for a moment */
	fu_plugin_add_flag(FU_PLUGIN(self), FWUPD_PLUGIN_FLAG_MUTABLE_ENUMERATION);
}

static void
fu_oskel_controller_plugin_constructed(GObject *obj)
{
	FuPlugin *plugin = FU_PLUGIN(obj);
	FuContext *ctx = fu_plugin_get_context(plugin);
	fu_context_add_quirk_key(ctx, "OskelControllerImageFill");
	fu_plugin_add_udev_subsystem(plugin, "usb");
	fu_plugin_add_device_gtype(plugin, FU_TYPE_OSKEL_CONTROLLER_DEVICE);
	fu_plugin_add_firmware_gtype(plugin, NULL, FU_TYPE_OSKEL_CONTROLLER_FIRMWARE);
}

static void
fu_oskel_controller_plugin_class_init(FuOskelControllerPluginClass *klass)
{
	FuPluginClass *plugin_class = FU_PLUGIN_CLASS(klass);
	plugin_class->constructed = fu_oskel_controller_plugin_constructed;
}
