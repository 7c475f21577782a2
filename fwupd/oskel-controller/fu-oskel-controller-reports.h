/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#pragma once

#include <fwupdplugin.h>

#include "fu-oskel-controller-struct.h"

/* the update protocol of each update mode, as the quirk file names them */
#define FU_OSKEL_CONTROLLER_PROTOCOL1 "invalid.oskel.controller.protocol1"
#define FU_OSKEL_CONTROLLER_PROTOCOL2 "invalid.oskel.controller.protocol2"
#define FU_OSKEL_CONTROLLER_PROTOCOL3 "invalid.oskel.controller.protocol3"

/* protocol 1: the application region, erased in blocks and programmed in chunks */
#define FU_OSKEL_CONTROLLER_P1_REGION_START 0x0A00
#define FU_OSKEL_CONTROLLER_P1_LENGTH_LIMIT 0x8000
#define FU_OSKEL_CONTROLLER_P1_ERASE_BLOCK  0x200
#define FU_OSKEL_CONTROLLER_P1_CHUNK	    0x20
/* the shortest buffer whose trim scan stays inside the region */
#define FU_OSKEL_CONTROLLER_P1_SHORTEST (FU_OSKEL_CONTROLLER_P1_REGION_START + 2)

/* protocol 2: the image bytes the stream carries, offsets 0 to LAST_OFFSET + 55 */
#define FU_OSKEL_CONTROLLER_P2_LAST_OFFSET 0x77E0
#define FU_OSKEL_CONTROLLER_P2_STREAM_SIZE                                                          \
	(FU_OSKEL_CONTROLLER_P2_LAST_OFFSET + FU_STRUCT_OSKEL_CONTROLLER_P2_DATA_SIZE_DATA)

/* protocol 3: block numbers and the count + 1 travel in 16 bits, the length in 24 bits */
#define FU_OSKEL_CONTROLLER_P3_BLOCK_COUNT_MAX	0xFFFE
#define FU_OSKEL_CONTROLLER_P3_IMAGE_LENGTH_MAX 0xFFFFFF

GByteArray *
fu_oskel_controller_p1_identify_report(void);
gchar *
fu_oskel_controller_p1_report_to_string(GByteArray *report) G_GNUC_NON_NULL(1);
GPtrArray *
fu_oskel_controller_p1_transfer_reports(const guint8 *buf,
					gsize bufsz,
					guint32 tick,
					GError **error) G_GNUC_NON_NULL(1);

GByteArray *
fu_oskel_controller_p2_start_report(void);
GPtrArray *
fu_oskel_controller_p2_data_reports(const guint8 *buf, gsize bufsz, GError **error)
    G_GNUC_NON_NULL(1);

guint32
fu_oskel_controller_p3_block_count(gsize image_length);
GByteArray *
fu_oskel_controller_p3_begin_report(gsize image_length, GError **error);
GPtrArray *
fu_oskel_controller_p3_block_reports(const guint8 *buf,
				     gsize bufsz,
				     gsize image_length,
				     GError **error) G_GNUC_NON_NULL(1);
guint32
fu_oskel_controller_p3_block_sum(GByteArray *block) G_GNUC_NON_NULL(1);
GByteArray *
fu_oskel_controller_p3_end_report(gsize image_length, guint32 total);
