/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#include "config.h"

#include "fu-oskel-controller-firmware.h"
#include "fu-oskel-controller-reports.h"

/*
 * tests/MODE.reports hold the reports that the controllers' own updater sends for a test image
 * of each update mode, made by its implementation of the protocols (the project's
 * tests/fwupd/golden_reports.cpp), with that mode's image limits and fill from its table of
 * modes. The plugin must send the same bytes, and its quirk must say the same limits.
 */

typedef struct {
	gchar *instance_id;
	gsize smallest_image;
	gsize buffer_size;
	guint8 fill;
	gsize image_length;
	guint32 tick;
	guint refuse_report;
	guint count;
	guint64 fingerprint;
	GHashTable *listed; /* index -> hex of the report */
} FuOskelControllerGolden;

static void
fu_oskel_controller_golden_free(FuOskelControllerGolden *golden)
{
	g_free(golden->instance_id);
	g_hash_table_unref(golden->listed);
	g_free(golden);
}

G_DEFINE_AUTOPTR_CLEANUP_FUNC(FuOskelControllerGolden, fu_oskel_controller_golden_free)

static FuOskelControllerGolden *
fu_oskel_controller_golden_load(const gchar *name)
{
	gboolean ret;
	g_autofree gchar *basename = g_strdup_printf("%s.reports", name);
	g_autofree gchar *filename = g_test_build_filename(G_TEST_DIST, "tests", basename, NULL);
	g_autofree gchar *text = NULL;
	g_auto(GStrv) lines = NULL;
	g_autoptr(GError) error = NULL;
	FuOskelControllerGolden *golden = g_new0(FuOskelControllerGolden, 1);

	golden->listed = g_hash_table_new_full(g_direct_hash, g_direct_equal, NULL, g_free);
	ret = g_file_get_contents(filename, &text, NULL, &error);
	g_assert_no_error(error);
	g_assert_true(ret);
	lines = g_strsplit(text, "\n", -1);
	for (guint i = 0; lines[i] != NULL; i++) {
		g_auto(GStrv) kv = g_strsplit(lines[i], " ", 2);
		if (lines[i][0] == '\0' || lines[i][0] == '#')
			continue;
		g_assert_nonnull(kv[1]);
		if (g_strcmp0(kv[0], "instance-id") == 0)
			golden->instance_id = g_strdup(kv[1]);
		else if (g_strcmp0(kv[0], "smallest-image") == 0)
			golden->smallest_image = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "buffer-size") == 0)
			golden->buffer_size = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "fill") == 0)
			golden->fill = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "image-length") == 0)
			golden->image_length = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "tick") == 0)
			golden->tick = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "refuse-report") == 0)
			golden->refuse_report = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "count") == 0)
			golden->count = g_ascii_strtoull(kv[1], NULL, 10);
		else if (g_strcmp0(kv[0], "fingerprint") == 0)
			golden->fingerprint = g_ascii_strtoull(kv[1], NULL, 16);
		else if (g_ascii_isdigit(kv[0][0]))
			g_hash_table_insert(golden->listed,
					    GUINT_TO_POINTER(g_ascii_strtoull(kv[0], NULL, 10)),
					    g_strdup(kv[1]));
	}
	g_assert_nonnull(golden->instance_id);
	g_assert_cmpint(golden->count, >, 0);
	g_assert_cmpint(g_hash_table_size(golden->listed), >, 0);
	return golden;
}

/* the same pattern as the golden reports' images: no run of blank bytes, and every value */
static guint8
fu_oskel_controller_test_pattern(guint32 i)
{
	return (guint8)(i * 89 + (i >> 9) * 7 + 0x35);
}

/* mode 1's image is blank but for a few spans, so that most chunks are skipped */
static gboolean
fu_oskel_controller_test_mode1_patterned(guint32 i)
{
	return i < 0x0C40 || i == 0x1234 || (i >= 0x4000 && i < 0x4020) || i >= 0x7FFE;
}

/* the mode's buffer as the plugin loads the golden file's image into it */
static GBytes *
fu_oskel_controller_test_buffer(FuOskelControllerGolden *golden, gboolean mode1)
{
	gboolean ret;
	g_autoptr(FuFirmware) firmware = fu_oskel_controller_firmware_new();
	g_autoptr(GByteArray) image = g_byte_array_new();
	g_autoptr(GBytes) blob = NULL;
	g_autoptr(GBytes) buffer = NULL;
	g_autoptr(GError) error = NULL;

	for (guint32 i = 0; i < golden->image_length; i++) {
		guint8 value = mode1 && !fu_oskel_controller_test_mode1_patterned(i)
				   ? 0xFF
				   : fu_oskel_controller_test_pattern(i);
		fu_byte_array_append_uint8(image, value);
	}
	fu_oskel_controller_firmware_set_mode(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
					      golden->smallest_image,
					      golden->buffer_size,
					      golden->fill);
	blob = g_bytes_new(image->data, image->len);
	ret = fu_firmware_parse_bytes(firmware,
				      blob,
				      0x0,
				      FU_FIRMWARE_PARSE_FLAG_NONE,
				      &error);
	g_assert_no_error(error);
	g_assert_true(ret);
	buffer = fu_oskel_controller_firmware_get_buffer(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
							 &error);
	g_assert_no_error(error);
	g_assert_nonnull(buffer);
	return g_steal_pointer(&buffer);
}

/* the updater's own fingerprint of a byte run: 64-bit FNV-1a, then xor the length */
static guint64
fu_oskel_controller_test_fingerprint(GPtrArray *reports)
{
	guint64 hash = 0xCBF29CE484222325ull;
	guint64 length = 0;
	for (guint i = 0; i < reports->len; i++) {
		GByteArray *report = g_ptr_array_index(reports, i);
		for (guint j = 0; j < report->len; j++) {
			hash ^= report->data[j];
			hash *= 0x100000001B3ull;
		}
		length += report->len;
	}
	return hash ^ length;
}

static void
fu_oskel_controller_test_compare(FuOskelControllerGolden *golden, GPtrArray *reports)
{
	GHashTableIter iter;
	gpointer key;
	gpointer value;

	g_hash_table_iter_init(&iter, golden->listed);
	while (g_hash_table_iter_next(&iter, &key, &value)) {
		guint index = GPOINTER_TO_UINT(key);
		g_autofree gchar *hex = NULL;
		g_assert_cmpint(index, <, reports->len);
		hex = fu_byte_array_to_string(g_ptr_array_index(reports, index));
		g_assert_cmpstr(hex, ==, (const gchar *)value);
	}
	g_assert_cmpint(reports->len, ==, golden->count);
	g_assert_cmpuint(fu_oskel_controller_test_fingerprint(reports), ==, golden->fingerprint);
}

static void
fu_oskel_controller_test_append(GPtrArray *reports, GPtrArray *more)
{
	for (guint i = 0; i < more->len; i++)
		g_ptr_array_add(reports, g_byte_array_ref(g_ptr_array_index(more, i)));
}

static GPtrArray *
fu_oskel_controller_test_reports_new(void)
{
	return g_ptr_array_new_with_free_func((GDestroyNotify)g_byte_array_unref);
}

static void
fu_oskel_controller_reports_protocol1_func(void)
{
	g_autoptr(FuOskelControllerGolden) golden = fu_oskel_controller_golden_load("mode1");
	g_autoptr(GBytes) buffer = fu_oskel_controller_test_buffer(golden, TRUE);
	g_autoptr(GPtrArray) reports = fu_oskel_controller_test_reports_new();
	g_autoptr(GPtrArray) transfer = NULL;
	g_autoptr(GError) error = NULL;

	g_ptr_array_add(reports, fu_oskel_controller_p1_identify_report());
	transfer = fu_oskel_controller_p1_transfer_reports(g_bytes_get_data(buffer, NULL),
							   g_bytes_get_size(buffer),
							   golden->tick,
							   &error);
	g_assert_no_error(error);
	g_assert_nonnull(transfer);
	fu_oskel_controller_test_append(reports, transfer);
	fu_oskel_controller_test_compare(golden, reports);
}

static void
fu_oskel_controller_reports_protocol2_func(void)
{
	g_autoptr(FuOskelControllerGolden) golden = fu_oskel_controller_golden_load("mode2");
	g_autoptr(GBytes) buffer = fu_oskel_controller_test_buffer(golden, FALSE);
	g_autoptr(GPtrArray) reports = fu_oskel_controller_test_reports_new();
	g_autoptr(GPtrArray) data = NULL;
	g_autoptr(GError) error = NULL;

	g_ptr_array_add(reports, fu_oskel_controller_p2_start_report());
	data = fu_oskel_controller_p2_data_reports(g_bytes_get_data(buffer, NULL),
						   g_bytes_get_size(buffer),
						   &error);
	g_assert_no_error(error);
	g_assert_nonnull(data);
	fu_oskel_controller_test_append(reports, data);
	fu_oskel_controller_test_compare(golden, reports);
}

/* the reports up to the block that the device refuses (every one without a refusal), then the
 * end report with the total of the blocks sent, the refused one included */
static void
fu_oskel_controller_test_protocol3(const gchar *name)
{
	guint32 total = 0;
	guint blocks_sent;
	g_autoptr(FuOskelControllerGolden) golden = fu_oskel_controller_golden_load(name);
	g_autoptr(GBytes) buffer = fu_oskel_controller_test_buffer(golden, FALSE);
	g_autoptr(GPtrArray) reports = fu_oskel_controller_test_reports_new();
	g_autoptr(GPtrArray) blocks = NULL;
	g_autoptr(GByteArray) begin = NULL;
	g_autoptr(GError) error = NULL;

	begin = fu_oskel_controller_p3_begin_report(golden->image_length, &error);
	g_assert_no_error(error);
	g_assert_nonnull(begin);
	g_ptr_array_add(reports, g_steal_pointer(&begin));
	blocks = fu_oskel_controller_p3_block_reports(g_bytes_get_data(buffer, NULL),
						      g_bytes_get_size(buffer),
						      golden->image_length,
						      &error);
	g_assert_no_error(error);
	g_assert_nonnull(blocks);
	g_assert_cmpint(blocks->len,
			==,
			fu_oskel_controller_p3_block_count(golden->image_length));
	blocks_sent = golden->refuse_report > 1 ? golden->refuse_report - 1 : blocks->len;
	for (guint i = 0; i < blocks_sent; i++) {
		GByteArray *block = g_ptr_array_index(blocks, i);
		total += fu_oskel_controller_p3_block_sum(block);
		g_ptr_array_add(reports, g_byte_array_ref(block));
	}
	g_ptr_array_add(reports, fu_oskel_controller_p3_end_report(golden->image_length, total));
	fu_oskel_controller_test_compare(golden, reports);
}

static void
fu_oskel_controller_reports_protocol3_func(void)
{
	fu_oskel_controller_test_protocol3("mode3");
}

static void
fu_oskel_controller_reports_protocol3_refused_func(void)
{
	fu_oskel_controller_test_protocol3("mode3-block-refused");
}

static gsize
fu_oskel_controller_test_quirk_value(GKeyFile *quirks, const gchar *group, const gchar *key)
{
	g_autofree gchar *value = NULL;
	g_autoptr(GError) error = NULL;
	value = g_key_file_get_string(quirks, group, key, &error);
	g_assert_no_error(error);
	return g_ascii_strtoull(value, NULL, 0);
}

static gboolean
fu_oskel_controller_test_parse(FuOskelControllerGolden *golden, gsize size, GError **error)
{
	g_autoptr(FuFirmware) firmware = fu_oskel_controller_firmware_new();
	g_autoptr(GBytes) image = g_bytes_new_take(g_malloc0(size), size);
	g_autoptr(GBytes) buffer = NULL;

	fu_oskel_controller_firmware_set_mode(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
					      golden->smallest_image,
					      golden->buffer_size,
					      golden->fill);
	if (!fu_firmware_parse_bytes(firmware, image, 0x0, FU_FIRMWARE_PARSE_FLAG_NONE, error))
		return FALSE;

	/* the image, then the fill up to the buffer's end */
	buffer = fu_oskel_controller_firmware_get_buffer(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
							 error);
	g_assert_nonnull(buffer);
	g_assert_cmpint(g_bytes_get_size(buffer), ==, golden->buffer_size);
	for (gsize i = size; i < golden->buffer_size; i++)
		g_assert_cmpint(((const guint8 *)g_bytes_get_data(buffer, NULL))[i], ==, golden->fill);
	return TRUE;
}

/* each mode's quirk says the limits of its table of modes, and the parser holds to them */
static void
fu_oskel_controller_firmware_limits_func(void)
{
	const gchar *names[] = {"mode1", "mode2", "mode3"};
	gboolean ret;
	g_autofree gchar *filename =
	    g_test_build_filename(G_TEST_DIST, "oskel-controller.quirk", NULL);
	g_autoptr(GKeyFile) quirks = g_key_file_new();
	g_autoptr(GError) error = NULL;

	ret = g_key_file_load_from_file(quirks, filename, G_KEY_FILE_NONE, &error);
	g_assert_no_error(error);
	g_assert_true(ret);
	for (guint i = 0; i < G_N_ELEMENTS(names); i++) {
		g_autoptr(FuOskelControllerGolden) golden = fu_oskel_controller_golden_load(names[i]);
		const gchar *group = golden->instance_id;
		g_autoptr(GError) error_short = NULL;
		g_autoptr(GError) error_long = NULL;
		g_autoptr(GError) error_empty = NULL;

		g_assert_cmpint(fu_oskel_controller_test_quirk_value(quirks, group, "FirmwareSizeMin"),
				==,
				golden->smallest_image);
		g_assert_cmpint(fu_oskel_controller_test_quirk_value(quirks, group, "FirmwareSizeMax"),
				==,
				golden->buffer_size);
		g_assert_cmpint(
		    fu_oskel_controller_test_quirk_value(quirks, group, "OskelControllerImageFill"),
		    ==,
		    golden->fill);

		ret = fu_oskel_controller_test_parse(golden, golden->smallest_image, &error);
		g_assert_no_error(error);
		g_assert_true(ret);
		ret = fu_oskel_controller_test_parse(golden, golden->buffer_size, &error);
		g_assert_no_error(error);
		g_assert_true(ret);
		ret = fu_oskel_controller_test_parse(golden, golden->buffer_size + 1, &error_long);
		g_assert_error(error_long, FWUPD_ERROR, FWUPD_ERROR_INVALID_FILE);
		g_assert_false(ret);
		/* FuFirmware itself refuses an empty stream */
		ret = fu_oskel_controller_test_parse(golden, 0, &error_empty);
		g_assert_nonnull(error_empty);
		g_assert_false(ret);
		if (golden->smallest_image > 1) {
			ret = fu_oskel_controller_test_parse(golden,
							     golden->smallest_image - 1,
							     &error_short);
			g_assert_error(error_short, FWUPD_ERROR, FWUPD_ERROR_INVALID_FILE);
			g_assert_false(ret);
		}
	}
}

int
main(int argc, char **argv)
{
	(void)g_setenv("G_TEST_SRCDIR", SRCDIR, FALSE);
	g_test_init(&argc, &argv, NULL);

	/* only critical and error are fatal */
	g_log_set_fatal_mask(NULL, G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL);

	g_test_add_func("/oskel-controller/firmware{limits}", fu_oskel_controller_firmware_limits_func);
	g_test_add_func("/oskel-controller/reports{protocol1}",
			fu_oskel_controller_reports_protocol1_func);
	g_test_add_func("/oskel-controller/reports{protocol2}",
			fu_oskel_controller_reports_protocol2_func);
	g_test_add_func("/oskel-controller/reports{protocol3}",
			fu_oskel_controller_reports_protocol3_func);
	g_test_add_func("/oskel-controller/reports{protocol3-block-refused}",
			fu_oskel_controller_reports_protocol3_refused_func);
	return g_test_run();
}
