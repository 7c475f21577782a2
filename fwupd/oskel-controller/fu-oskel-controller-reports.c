/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#include "config.h"

#include "fu-oskel-controller-reports.h"

/*
 * The reports of each protocol, built in the order they go to the device. They depend on the
 * image alone (and, for protocol 1, on the chunk the program pass starts at), never on what the
 * device answers, so that the device code only moves them and the self-test can compare every
 * byte with the reports the Windows program sends.
 */

/*
 * The boot loader of update mode 1 recovers every byte after the report ID by looking it up in
 * this table (a permutation of 0..255); the host sends each byte through its inverse.
 */
static const guint8 fu_oskel_controller_scramble_table[256] = {
	0xE8, 0xE4, 0xE9, 0x0F, 0x92, 0xA5, 0x6C, 0x10, 0x06, 0x81, 0xFD, 0x0E, 0x69, 0x11, 0x16, 0xE1,
	0x93, 0xA7, 0xFB, 0xE3, 0x42, 0xBB, 0xBC, 0x86, 0x7D, 0x73, 0xE2, 0xB3, 0xA6, 0x9F, 0xCB, 0x8A,
	0x14, 0x77, 0x22, 0x9D, 0x1A, 0x0A, 0xAA, 0x23, 0x74, 0x1D, 0xC2, 0x26, 0xCC, 0x3B, 0x4A, 0x24,
	0xF1, 0xEA, 0x21, 0x59, 0x60, 0x2A, 0x8D, 0xDF, 0xEB, 0xF3, 0xB2, 0x53, 0x01, 0xBD, 0x37, 0x2D,
	0x58, 0x91, 0xC8, 0x98, 0xD4, 0xA9, 0xC6, 0x4D, 0x1C, 0xE5, 0x4F, 0x76, 0x61, 0x99, 0x6E, 0x47,
	0x2C, 0xD6, 0x90, 0x4C, 0xCE, 0x6D, 0x55, 0x33, 0xCD, 0xB9, 0xF7, 0x84, 0xB1, 0xCA, 0xDA, 0x0B,
	0x2E, 0xA8, 0x7E, 0x31, 0x6A, 0x9B, 0x7A, 0xA3, 0x67, 0x3E, 0x17, 0x20, 0xF5, 0x04, 0x38, 0xAD,
	0x25, 0x28, 0x5A, 0x9A, 0xA4, 0x6F, 0xB8, 0x9E, 0xF2, 0xF4, 0x34, 0xAC, 0x7B, 0xAB, 0x54, 0x1E,
	0x2B, 0x15, 0x09, 0x8F, 0xD5, 0x3F, 0x5C, 0x57, 0xD1, 0xC7, 0xDB, 0x80, 0x4E, 0xC1, 0x18, 0x27,
	0xFE, 0xDC, 0x95, 0xE0, 0x13, 0x88, 0xF0, 0x85, 0xD9, 0xD7, 0xD8, 0xFC, 0x87, 0xC3, 0x45, 0x12,
	0xB5, 0x1F, 0xA2, 0x43, 0xC9, 0xAF, 0x48, 0xE6, 0xAE, 0xFA, 0x08, 0xB7, 0x79, 0x5E, 0x30, 0x62,
	0x7F, 0xFF, 0xD2, 0xF8, 0x5B, 0x89, 0x78, 0xB6, 0x64, 0x97, 0x66, 0x96, 0x3D, 0x94, 0x0D, 0x41,
	0x40, 0xEE, 0xA0, 0x07, 0x6B, 0xC0, 0x9C, 0x71, 0x00, 0xD3, 0x65, 0xF6, 0x83, 0x44, 0xCF, 0x75,
	0x19, 0x05, 0xC4, 0x51, 0x8E, 0x56, 0xBF, 0x68, 0xE7, 0x1B, 0x70, 0xA1, 0xEF, 0xDD, 0x3C, 0xB4,
	0x32, 0x5F, 0x72, 0x63, 0x5D, 0x3A, 0x36, 0xD0, 0x82, 0x52, 0x35, 0x49, 0xF9, 0xC5, 0xED, 0xB0,
	0x2F, 0x03, 0x8B, 0xEC, 0x8C, 0x7C, 0xBE, 0x0C, 0xDE, 0x39, 0x50, 0xBA, 0x29, 0x02, 0x46, 0x4B,
};

static void
fu_oskel_controller_p1_invert_table(guint8 *inverse)
{
	for (guint i = 0; i < 256; i++)
		inverse[fu_oskel_controller_scramble_table[i]] = (guint8)i;
}

/*
 * Seals the report as it stands (the report ID, the header and the checksum over all 64 bytes)
 * and substitutes every byte after the report ID in place. The buffer then holds the wire form,
 * and the next report is written over it: the bytes it does not set go out as this one left them.
 */
static void
fu_oskel_controller_p1_seal(FuStructOskelControllerP1Report *st, const guint8 *inverse)
{
	guint8 *buf = st->buf->data;

	fu_struct_oskel_controller_p1_report_set_report_id(
	    st,
	    FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_DEFAULT_REPORT_ID);
	fu_struct_oskel_controller_p1_report_set_header(
	    st,
	    FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_DEFAULT_HEADER);
	fu_struct_oskel_controller_p1_report_set_data_size(
	    st,
	    FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_DEFAULT_DATA_SIZE);
	fu_struct_oskel_controller_p1_report_set_checksum(st, 0x00);
	fu_struct_oskel_controller_p1_report_set_checksum(st, fu_sum8(buf, st->buf->len));
	for (guint i = 1; i < st->buf->len; i++)
		buf[i] = inverse[buf[i]];
}

/* the report as sealed just now: the buffer itself goes on to carry the next one */
static GByteArray *
fu_oskel_controller_p1_sealed_copy(FuStructOskelControllerP1Report *st, const guint8 *inverse)
{
	GByteArray *copy = g_byte_array_sized_new(st->buf->len);
	fu_oskel_controller_p1_seal(st, inverse);
	g_byte_array_append(copy, st->buf->data, st->buf->len);
	return copy;
}

static void
fu_oskel_controller_p1_set_command(FuStructOskelControllerP1Report *st,
				   FuOskelControllerP1Cmd command,
				   guint16 address,
				   guint8 size)
{
	fu_struct_oskel_controller_p1_report_set_command(st, command);
	fu_struct_oskel_controller_p1_report_set_address(st, address);
	fu_struct_oskel_controller_p1_report_set_size(st, size);
}

GByteArray *
fu_oskel_controller_p1_identify_report(void)
{
	guint8 inverse[256];
	g_autoptr(FuStructOskelControllerP1Report) st = fu_struct_oskel_controller_p1_report_new();

	fu_oskel_controller_p1_invert_table(inverse);
	fu_oskel_controller_p1_set_command(st, FU_OSKEL_CONTROLLER_P1_CMD_IDENTIFY, 0x0, 0x0);
	return fu_oskel_controller_p1_sealed_copy(st, inverse);
}

/* what a report in its wire form asks the boot loader to do, for error messages */
gchar *
fu_oskel_controller_p1_report_to_string(GByteArray *report)
{
	guint8 plain[FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_SIZE] = {0x0};
	guint16 address;
	guint8 size;

	for (guint i = 1; i < MIN(report->len, sizeof(plain)); i++)
		plain[i] = fu_oskel_controller_scramble_table[report->data[i]];
	address = fu_memread_uint16(plain + FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_ADDRESS,
				    G_BIG_ENDIAN);
	size = plain[FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_SIZE];
	switch (plain[FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_COMMAND]) {
	case FU_OSKEL_CONTROLLER_P1_CMD_IDENTIFY:
		return g_strdup("identify command");
	case FU_OSKEL_CONTROLLER_P1_CMD_ERASE:
		return g_strdup_printf("erase command of the block at 0x%04x", address);
	case FU_OSKEL_CONTROLLER_P1_CMD_PROGRAM:
		return g_strdup_printf("program command of the %u bytes at 0x%04x", size, address);
	case FU_OSKEL_CONTROLLER_P1_CMD_FINISH:
		return g_strdup("finish command");
	default:
		return g_strdup_printf("command 0x%02x",
				       plain[FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_COMMAND]);
	}
}

/* one past the last byte below length - 1 that is not blank; the byte at length - 1 is never
 * looked at */
static guint32
fu_oskel_controller_p1_end_of_data(const guint8 *buf, guint32 length)
{
	guint32 i = length - 2;
	if (i <= FU_OSKEL_CONTROLLER_P1_REGION_START)
		return i;
	for (; i > FU_OSKEL_CONTROLLER_P1_REGION_START; i--) {
		if (buf[i] != 0xFF)
			return i + 1;
	}
	return FU_OSKEL_CONTROLLER_P1_REGION_START;
}

/* the first CHUNK bytes of the data field, whatever the size of the chunk it carries */
static gboolean
fu_oskel_controller_p1_chunk_is_blank(FuStructOskelControllerP1Report *st)
{
	const guint8 *data = st->buf->data + FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_DATA;
	for (guint i = 0; i < FU_OSKEL_CONTROLLER_P1_CHUNK; i++) {
		if (data[i] != 0xFF)
			return FALSE;
	}
	return TRUE;
}

/*
 * The erase reports of the application region, the program reports of its chunks that are not
 * blank and the finish report. The chunks go in a rotated order: from the chunk tick selects up
 * to the last, then down from just below it to the first.
 */
GPtrArray *
fu_oskel_controller_p1_transfer_reports(const guint8 *buf, gsize bufsz, guint32 tick, GError **error)
{
	guint8 inverse[256];
	guint32 length = MIN(bufsz, FU_OSKEL_CONTROLLER_P1_LENGTH_LIMIT);
	guint32 erase_count;
	guint32 data_end;
	guint32 span;
	guint32 chunk_count;
	guint32 start = 0;
	g_autofree guint32 *order = NULL;
	g_autoptr(FuStructOskelControllerP1Report) st = fu_struct_oskel_controller_p1_report_new();
	g_autoptr(GPtrArray) reports = g_ptr_array_new_with_free_func((GDestroyNotify)g_byte_array_unref);

	if (length < FU_OSKEL_CONTROLLER_P1_SHORTEST) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image buffer of 0x%x bytes ends below the application region",
			    length);
		return NULL;
	}
	fu_oskel_controller_p1_invert_table(inverse);

	/* erase every block of the region */
	erase_count = (length - FU_OSKEL_CONTROLLER_P1_REGION_START +
		       FU_OSKEL_CONTROLLER_P1_ERASE_BLOCK - 1) /
		      FU_OSKEL_CONTROLLER_P1_ERASE_BLOCK;
	for (guint32 k = 0; k < erase_count; k++) {
		guint32 address = FU_OSKEL_CONTROLLER_P1_REGION_START + FU_OSKEL_CONTROLLER_P1_ERASE_BLOCK * k;
		fu_oskel_controller_p1_set_command(st,
						   FU_OSKEL_CONTROLLER_P1_CMD_ERASE,
						   address,
						   0x01);
		g_ptr_array_add(reports, fu_oskel_controller_p1_sealed_copy(st, inverse));
	}

	/* program the chunks up to the last byte that is not blank */
	data_end = fu_oskel_controller_p1_end_of_data(buf, length);
	span = data_end - FU_OSKEL_CONTROLLER_P1_REGION_START;
	chunk_count = (span + FU_OSKEL_CONTROLLER_P1_CHUNK - 1) / FU_OSKEL_CONTROLLER_P1_CHUNK;
	order = g_new0(guint32, MAX(chunk_count, 1));
	if (chunk_count > 0) {
		guint32 k = 0;
		start = tick % chunk_count;
		for (guint32 i = start; i < chunk_count; i++)
			order[k++] = i;
		for (guint32 i = start; i > 0; i--)
			order[k++] = i - 1;
	}
	for (guint32 k = 0; k < chunk_count; k++) {
		guint32 chunk = order[k];
		guint32 address = FU_OSKEL_CONTROLLER_P1_REGION_START + FU_OSKEL_CONTROLLER_P1_CHUNK * chunk;
		guint32 size = MIN(FU_OSKEL_CONTROLLER_P1_CHUNK, data_end - address);

		fu_oskel_controller_p1_set_command(st,
						   FU_OSKEL_CONTROLLER_P1_CMD_PROGRAM,
						   address,
						   size);
		memcpy(st->buf->data + FU_STRUCT_OSKEL_CONTROLLER_P1_REPORT_OFFSET_DATA,
		       buf + address,
		       size);
		if (fu_oskel_controller_p1_chunk_is_blank(st))
			continue;
		g_ptr_array_add(reports, fu_oskel_controller_p1_sealed_copy(st, inverse));
	}

	/* hand over to the application, whose region starts at the region start */
	fu_oskel_controller_p1_set_command(st,
					   FU_OSKEL_CONTROLLER_P1_CMD_FINISH,
					   FU_OSKEL_CONTROLLER_P1_REGION_START,
					   0x00);
	g_ptr_array_add(reports, fu_oskel_controller_p1_sealed_copy(st, inverse));
	return g_steal_pointer(&reports);
}

GByteArray *
fu_oskel_controller_p2_start_report(void)
{
	g_autoptr(FuStructOskelControllerP2Start) st = fu_struct_oskel_controller_p2_start_new();
	return g_byte_array_ref(st->buf);
}

/* the image from offset 0 to the last offset, in data reports of 56 bytes */
GPtrArray *
fu_oskel_controller_p2_data_reports(const guint8 *buf, gsize bufsz, GError **error)
{
	g_autoptr(GPtrArray) reports = g_ptr_array_new_with_free_func((GDestroyNotify)g_byte_array_unref);

	if (bufsz < FU_OSKEL_CONTROLLER_P2_STREAM_SIZE) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image buffer of 0x%x bytes is shorter than the stream of 0x%x bytes",
			    (guint)bufsz,
			    (guint)FU_OSKEL_CONTROLLER_P2_STREAM_SIZE);
		return NULL;
	}
	for (guint32 offset = 0; offset <= FU_OSKEL_CONTROLLER_P2_LAST_OFFSET;
	     offset += FU_STRUCT_OSKEL_CONTROLLER_P2_DATA_SIZE_DATA) {
		g_autoptr(FuStructOskelControllerP2Data) st = fu_struct_oskel_controller_p2_data_new();
		const guint8 *chunk = buf + offset;
		if (!fu_struct_oskel_controller_p2_data_set_data(st,
								 chunk,
								 FU_STRUCT_OSKEL_CONTROLLER_P2_DATA_SIZE_DATA,
								 error))
			return NULL;
		fu_struct_oskel_controller_p2_data_set_offset(st, offset);
		fu_struct_oskel_controller_p2_data_set_checksum(
		    st,
		    fu_sum16(chunk, FU_STRUCT_OSKEL_CONTROLLER_P2_DATA_SIZE_DATA));
		g_ptr_array_add(reports, g_byte_array_ref(st->buf));
	}
	return g_steal_pointer(&reports);
}

guint32
fu_oskel_controller_p3_block_count(gsize image_length)
{
	return (image_length + FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_SIZE_DATA - 1) /
	       FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_SIZE_DATA;
}

GByteArray *
fu_oskel_controller_p3_begin_report(gsize image_length, GError **error)
{
	guint32 block_count = fu_oskel_controller_p3_block_count(image_length);
	g_autoptr(FuStructOskelControllerP3Begin) st = fu_struct_oskel_controller_p3_begin_new();

	if (image_length > FU_OSKEL_CONTROLLER_P3_IMAGE_LENGTH_MAX ||
	    block_count > FU_OSKEL_CONTROLLER_P3_BLOCK_COUNT_MAX) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image of 0x%x bytes does not fit the begin report's fields",
			    (guint)image_length);
		return NULL;
	}
	fu_struct_oskel_controller_p3_begin_set_block_count(st, block_count);
	fu_struct_oskel_controller_p3_begin_set_image_length(st, image_length);
	return g_byte_array_ref(st->buf);
}

/* blocks 1 to the block count, 58 buffer bytes each; the last block's length counts the image
 * bytes alone, and 0x00 follows them where the buffer ends */
GPtrArray *
fu_oskel_controller_p3_block_reports(const guint8 *buf,
				     gsize bufsz,
				     gsize image_length,
				     GError **error)
{
	const gsize block_size = FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_SIZE_DATA;
	guint32 block_count = fu_oskel_controller_p3_block_count(image_length);
	g_autoptr(GPtrArray) reports = g_ptr_array_new_with_free_func((GDestroyNotify)g_byte_array_unref);

	if (image_length > bufsz || block_count > FU_OSKEL_CONTROLLER_P3_BLOCK_COUNT_MAX) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image of 0x%x bytes does not fit its buffer of 0x%x bytes or the block fields",
			    (guint)image_length,
			    (guint)bufsz);
		return NULL;
	}
	for (guint32 n = 1; n <= block_count; n++) {
		gsize offset = (gsize)(n - 1) * block_size;
		guint32 length = n < block_count ? block_size : image_length - offset;
		g_autoptr(FuStructOskelControllerP3Block) st = fu_struct_oskel_controller_p3_block_new();

		fu_struct_oskel_controller_p3_block_set_number(st, n);
		fu_struct_oskel_controller_p3_block_set_length(st, length);
		if (!fu_memcpy_safe(st->buf->data,
				    st->buf->len,
				    FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_OFFSET_DATA,
				    buf,
				    bufsz,
				    offset,
				    MIN(block_size, bufsz - offset),
				    error))
			return NULL;
		g_ptr_array_add(reports, g_byte_array_ref(st->buf));
	}
	return g_steal_pointer(&reports);
}

/* the byte sum of a block report's data field, as the end report's total counts it */
guint32
fu_oskel_controller_p3_block_sum(GByteArray *block)
{
	guint32 sum = 0;
	for (gsize i = 0; i < FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_SIZE_DATA; i++)
		sum += block->data[FU_STRUCT_OSKEL_CONTROLLER_P3_BLOCK_OFFSET_DATA + i];
	return sum;
}

/* the end report: its count is the block count + 1 whether or not every block was sent, and the
 * total keeps its low 24 bits */
GByteArray *
fu_oskel_controller_p3_end_report(gsize image_length, guint32 total)
{
	g_autoptr(FuStructOskelControllerP3End) st = fu_struct_oskel_controller_p3_end_new();
	fu_struct_oskel_controller_p3_end_set_count(st,
						   fu_oskel_controller_p3_block_count(image_length) + 1);
	fu_struct_oskel_controller_p3_end_set_total(st, total & 0xFFFFFF);
	fu_struct_oskel_controller_p3_end_set_image_length(st, image_length);
	return g_byte_array_ref(st->buf);
}
