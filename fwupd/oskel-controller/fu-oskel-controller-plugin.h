/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#pragma once

#include <fwupdplugin.h>

G_DECLARE_FINAL_TYPE(FuOskelControllerPlugin,
		     fu_oskel_controller_plugin,
		     FU,
		     OSKEL_CONTROLLER_PLUGIN,
		     FuPlugin)
