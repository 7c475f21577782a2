/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#include "config.h"

#include "fu-oskel-controller-firmware.h"

/*
 * A raw image for one update mode. The mode loads it into a buffer of a fixed size, which holds
 * the fill byte after the image, and its protocol reads the image from that buffer: an image
 * longer than the buffer is none of this mode's, and so is one shorter than the mode's smallest
 * (protocol 1 programs nothing below its application region).
 */

struct _FuOskelControllerFirmware {
	FuFirmware parent_instance;
	gsize size_min;
	gsize buffer_size; /* 0: no mode set, any image that is not empty */
	guint8 fill;
};

G_DEFINE_TYPE(FuOskelControllerFirmware, fu_oskel_controller_firmware, FU_TYPE_FIRMWARE)

static void
fu_oskel_controller_firmware_export(FuFirmware *firmware,
				    FuFirmwareExportFlags flags,
				    XbBuilderNode *bn)
{
	FuOskelControllerFirmware *self = FU_OSKEL_CONTROLLER_FIRMWARE(firmware);
	fu_xmlb_builder_insert_kx(bn, "size_min", self->size_min);
	fu_xmlb_builder_insert_kx(bn, "buffer_size", self->buffer_size);
	fu_xmlb_builder_insert_kx(bn, "fill", self->fill);
}

static gboolean
fu_oskel_controller_firmware_parse(FuFirmware *firmware,
				   GInputStream *stream,
				   FuFirmwareParseFlags flags,
				   GError **error)
{
	FuOskelControllerFirmware *self = FU_OSKEL_CONTROLLER_FIRMWARE(firmware);
	gsize streamsz = 0;
	g_autoptr(GBytes) blob = NULL;

	if (!fu_input_stream_size(stream, &streamsz, error))
		return FALSE;
	if (streamsz == 0 || streamsz < self->size_min) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image of 0x%x bytes is shorter than the 0x%x bytes this update mode needs",
			    (guint)streamsz,
			    (guint)MAX(self->size_min, 1));
		return FALSE;
	}
	if (self->buffer_size > 0 && streamsz > self->buffer_size) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_INVALID_FILE,
			    "image of 0x%x bytes does not fit this update mode's buffer of 0x%x bytes",
			    (guint)streamsz,
			    (guint)self->buffer_size);
		return FALSE;
	}
	blob = fu_input_stream_read_bytes(stream, 0x0, streamsz, NULL, error);
	if (blob == NULL)
		return FALSE;
	fu_firmware_set_bytes(firmware, blob);
	return TRUE;
}

/**
 * fu_oskel_controller_firmware_set_mode:
 * @self: a #FuOskelControllerFirmware
 * @size_min: the smallest image of the mode
 * @buffer_size: the buffer the mode loads its image into, the largest image
 * @fill: what the buffer holds after the image
 *
 * Sets what an image of the update mode must fit; call before parsing.
 **/
void
fu_oskel_controller_firmware_set_mode(FuOskelControllerFirmware *self,
				      gsize size_min,
				      gsize buffer_size,
				      guint8 fill)
{
	g_return_if_fail(FU_IS_OSKEL_CONTROLLER_FIRMWARE(self));
	self->size_min = size_min;
	self->buffer_size = buffer_size;
	self->fill = fill;
}

/**
 * fu_oskel_controller_firmware_get_buffer:
 * @self: a #FuOskelControllerFirmware
 * @error: (nullable): optional return location for an error
 *
 * Gets the mode's buffer: the image, then the fill byte up to the buffer's size.
 *
 * Returns: (transfer full): the buffer, or %NULL for error
 **/
GBytes *
fu_oskel_controller_firmware_get_buffer(FuOskelControllerFirmware *self, GError **error)
{
	g_autoptr(GBytes) image = NULL;
	g_autoptr(GByteArray) buf = NULL;

	g_return_val_if_fail(FU_IS_OSKEL_CONTROLLER_FIRMWARE(self), NULL);

	image = fu_firmware_get_bytes(FU_FIRMWARE(self), error);
	if (image == NULL)
		return NULL;
	buf = g_byte_array_sized_new(MAX(self->buffer_size, g_bytes_get_size(image)));
	fu_byte_array_append_bytes(buf, image);
	fu_byte_array_set_size(buf, MAX(self->buffer_size, buf->len), self->fill);
	return g_bytes_new(buf->data, buf->len);
}

static void
fu_oskel_controller_firmware_init(FuOskelControllerFirmware *self)
{
	self->fill = 0xFF;
}

static void
fu_oskel_controller_firmware_class_init(FuOskelControllerFirmwareClass *klass)
{
	FuFirmwareClass *firmware_class = FU_FIRMWARE_CLASS(klass);
	firmware_class->parse = fu_oskel_controller_firmware_parse;
	firmware_class->export = fu_oskel_controller_firmware_export;
}

FuFirmware *
fu_oskel_controller_firmware_new(void)
{
	return FU_FIRMWARE(g_object_new(FU_TYPE_OSKEL_CONTROLLER_FIRMWARE, NULL));
}
