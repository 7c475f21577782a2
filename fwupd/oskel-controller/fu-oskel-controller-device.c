/*
 * Copyright 2026 Oskel updater developers
 *
 * SPDX-License-Identifier: LGPL-2.1-or-later
 */

#include "config.h"

#include "fu-oskel-controller-device.h"
#include "fu-oskel-controller-firmware.h"
#include "fu-oskel-controller-reports.h"

/*
 * A game controller in one of its update modes: its boot loader, which takes the image of that
 * mode over the mode's protocol. The quirk file names the protocol, the image sizes and the fill
 * of each mode.
 */

#define FU_OSKEL_CONTROLLER_DEVICE_REPORT_TIMEOUT 5000 /* ms, one output report */
#define FU_OSKEL_CONTROLLER_DEVICE_REPLY_TIMEOUT  5000 /* ms, one reply */
/* ms, protocol 3's begin reply, which comes once the flash is erased */
#define FU_OSKEL_CONTROLLER_DEVICE_ERASE_TIMEOUT 30000
/* protocol 2's start report: the only report that is tried again */
#define FU_OSKEL_CONTROLLER_DEVICE_START_TRIES 10
#define FU_OSKEL_CONTROLLER_DEVICE_START_DELAY 1000 /* ms */

struct _FuOskelControllerDevice {
	FuHidDevice parent_instance;
	gboolean has_image_fill;
	guint8 image_fill;
};

G_DEFINE_TYPE(FuOskelControllerDevice, fu_oskel_controller_device, FU_TYPE_HID_DEVICE)

static void
fu_oskel_controller_device_to_string(FuDevice *device, guint idt, GString *str)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);
	fwupd_codec_string_append_hex(str, idt, "ImageFill", self->image_fill);
}

static gboolean
fu_oskel_controller_device_probe(FuDevice *device, GError **error)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);
	const gchar *protocols[] = {FU_OSKEL_CONTROLLER_PROTOCOL1,
				    FU_OSKEL_CONTROLLER_PROTOCOL2,
				    FU_OSKEL_CONTROLLER_PROTOCOL3};
	guint protocol_count = 0;
	guint16 release;

	/* FuHidDevice->probe */
	if (!FU_DEVICE_CLASS(fu_oskel_controller_device_parent_class)->probe(device, error))
		return FALSE;

	/* the quirk file says which mode this is */
	for (guint i = 0; i < G_N_ELEMENTS(protocols); i++) {
		if (fu_device_has_protocol(device, protocols[i]))
			protocol_count++;
	}
	if (protocol_count != 1) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_NOT_SUPPORTED,
			    "the quirk of %04x:%04x names %u of the controller's update protocols, "
			    "not one",
			    fu_device_get_vid(device),
			    fu_device_get_pid(device),
			    protocol_count);
		return FALSE;
	}
	if (fu_device_get_firmware_size_max(device) == 0 || !self->has_image_fill) {
		g_set_error(error,
			    FWUPD_ERROR,
			    FWUPD_ERROR_NOT_SUPPORTED,
			    "the quirk of %04x:%04x sets no FirmwareSizeMax or OskelControllerImageFill",
			    fu_device_get_vid(device),
			    fu_device_get_pid(device));
		return FALSE;
	}

	/* nothing the boot loader says tells the version of the application it will run: 0.0 is
	 * older than every release; its own release is the device descriptor's */
	fu_device_set_version(device, "0.0");
	release = fu_usb_device_get_release(FU_USB_DEVICE(device));
	fu_device_set_version_bootloader_raw(device, release);
	if (release != 0x0) {
		g_autofree gchar *version = fu_version_from_uint16(release, FWUPD_VERSION_FORMAT_BCD);
		fu_device_set_version_bootloader(device, version);
	}
	return TRUE;
}

static FuFirmware *
fu_oskel_controller_device_prepare_firmware(FuDevice *device,
					    GInputStream *stream,
					    FuProgress *progress,
					    FuFirmwareParseFlags flags,
					    GError **error)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);
	g_autoptr(FuFirmware) firmware = fu_oskel_controller_firmware_new();

	fu_oskel_controller_firmware_set_mode(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
					      fu_device_get_firmware_size_min(device),
					      fu_device_get_firmware_size_max(device),
					      self->image_fill);
	if (!fu_firmware_parse_stream(firmware, stream, 0x0, flags, error))
		return NULL;
	return g_steal_pointer(&firmware);
}

/*
 * A controller that let a report or reply time out does not answer usbhid's probe either: giving
 * its interface back would only wait for the probe's own time-outs (some 25 s) and leave the
 * interface without a driver all the same, until the controller is plugged in again.
 */
static gboolean
fu_oskel_controller_device_check(FuOskelControllerDevice *self, gboolean ok, GError **error)
{
	if (!ok && error != NULL && g_error_matches(*error, FWUPD_ERROR, FWUPD_ERROR_TIMED_OUT)) {
		g_debug("the controller stopped answering: its interface is not given back to usbhid");
		fu_hid_device_add_flag(FU_HID_DEVICE(self), FU_HID_DEVICE_FLAG_NO_KERNEL_REBIND);
	}
	return ok;
}

/* one output report: SET_REPORT on endpoint 0, or on the interrupt OUT endpoint, which carries
 * a report of ID 0 without its ID */
static gboolean
fu_oskel_controller_device_send(FuOskelControllerDevice *self,
				GByteArray *report,
				FuHidDeviceFlags flags,
				GError **error)
{
	guint8 report_id = report->data[0];
	gsize skip = (flags & FU_HID_DEVICE_FLAG_USE_INTERRUPT_TRANSFER) && report_id == 0 ? 1 : 0;
	gboolean ok = fu_hid_device_set_report(FU_HID_DEVICE(self),
					       report_id,
					       report->data + skip,
					       report->len - skip,
					       FU_OSKEL_CONTROLLER_DEVICE_REPORT_TIMEOUT,
					       flags,
					       error);
	return fu_oskel_controller_device_check(self, ok, error);
}

/* one input report: GET_REPORT on endpoint 0, or from the interrupt IN endpoint */
static gboolean
fu_oskel_controller_device_receive(FuOskelControllerDevice *self,
				   guint8 report_id,
				   guint8 *buf,
				   gsize bufsz,
				   guint timeout,
				   FuHidDeviceFlags flags,
				   GError **error)
{
	gboolean ok = fu_hid_device_get_report(FU_HID_DEVICE(self),
					       report_id,
					       buf,
					       bufsz,
					       timeout,
					       flags | FU_HID_DEVICE_FLAG_ALLOW_TRUNC,
					       error);
	return fu_oskel_controller_device_check(self, ok, error);
}

/* protocol 1: the identify exchange, then erase, program and finish, as SET_REPORT requests */
static gboolean
fu_oskel_controller_device_write_protocol1(FuOskelControllerDevice *self,
					   GBytes *buffer,
					   FuProgress *progress,
					   GError **error)
{
	guint32 tick = (guint32)(g_get_monotonic_time() / 1000);
	g_autoptr(FuStructOskelControllerP1IdentifyReply) st_reply =
	    fu_struct_oskel_controller_p1_identify_reply_new();
	g_autoptr(GByteArray) identify = fu_oskel_controller_p1_identify_report();
	g_autoptr(GPtrArray) reports = NULL;
	g_autofree gchar *reply_text = NULL;

	reports = fu_oskel_controller_p1_transfer_reports(g_bytes_get_data(buffer, NULL),
							  g_bytes_get_size(buffer),
							  tick,
							  error);
	if (reports == NULL)
		return FALSE;

	fu_progress_set_id(progress, G_STRLOC);
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_BUSY, 1, "identify");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_WRITE, 99, NULL);

	/* nothing is erased unless the boot loader answers */
	if (!fu_oskel_controller_device_send(self, identify, FU_HID_DEVICE_FLAG_NONE, error)) {
		g_prefix_error_literal(error, "failed to send the identify command: ");
		return FALSE;
	}
	if (!fu_oskel_controller_device_receive(self,
						st_reply->buf->data[0],
						st_reply->buf->data,
						st_reply->buf->len,
						FU_OSKEL_CONTROLLER_DEVICE_REPLY_TIMEOUT,
						FU_HID_DEVICE_FLAG_NONE,
						error)) {
		g_prefix_error_literal(error, "the boot loader did not answer the identify command: ");
		return FALSE;
	}
	reply_text = fu_struct_oskel_controller_p1_identify_reply_to_string(st_reply);
	g_debug("identified: %s", reply_text);
	fu_progress_step_done(progress);

	fu_progress_set_id(fu_progress_get_child(progress), G_STRLOC);
	fu_progress_set_steps(fu_progress_get_child(progress), reports->len);
	for (guint i = 0; i < reports->len; i++) {
		GByteArray *report = g_ptr_array_index(reports, i);
		if (!fu_oskel_controller_device_send(self, report, FU_HID_DEVICE_FLAG_NONE, error)) {
			g_autofree gchar *what = fu_oskel_controller_p1_report_to_string(report);
			g_prefix_error(error,
				       "failed to send the %s (report %u of %u): ",
				       what,
				       i + 1,
				       reports->len);
			return FALSE;
		}
		fu_progress_step_done(fu_progress_get_child(progress));
	}
	fu_progress_step_done(progress);
	return TRUE;
}

static gboolean
fu_oskel_controller_device_start_cb(FuDevice *device, gpointer user_data, GError **error)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);
	GByteArray *start = (GByteArray *)user_data;
	if (!fu_oskel_controller_device_send(self,
					     start,
					     FU_HID_DEVICE_FLAG_USE_INTERRUPT_TRANSFER,
					     error)) {
		g_info("the start report was not taken: %s", (*error)->message);
		return FALSE;
	}
	return TRUE;
}

/* protocol 2: the start report until the device takes it, then the data reports, one way */
static gboolean
fu_oskel_controller_device_write_protocol2(FuOskelControllerDevice *self,
					   GBytes *buffer,
					   FuProgress *progress,
					   GError **error)
{
	g_autoptr(GByteArray) start = fu_oskel_controller_p2_start_report();
	g_autoptr(GPtrArray) reports = NULL;

	reports = fu_oskel_controller_p2_data_reports(g_bytes_get_data(buffer, NULL),
						      g_bytes_get_size(buffer),
						      error);
	if (reports == NULL)
		return FALSE;

	if (!fu_device_retry_full(FU_DEVICE(self),
				  fu_oskel_controller_device_start_cb,
				  FU_OSKEL_CONTROLLER_DEVICE_START_TRIES,
				  FU_OSKEL_CONTROLLER_DEVICE_START_DELAY,
				  start,
				  error)) {
		g_prefix_error_literal(error, "the device did not take the start report: ");
		return FALSE;
	}

	fu_progress_set_id(progress, G_STRLOC);
	fu_progress_set_steps(progress, reports->len);
	for (guint i = 0; i < reports->len; i++) {
		GByteArray *report = g_ptr_array_index(reports, i);
		if (!fu_oskel_controller_device_send(self,
						     report,
						     FU_HID_DEVICE_FLAG_USE_INTERRUPT_TRANSFER,
						     error)) {
			g_prefix_error(error,
				       "failed to write the data report at image offset 0x%04x "
				       "(report %u of %u): ",
				       i * FU_STRUCT_OSKEL_CONTROLLER_P2_DATA_SIZE_DATA,
				       i + 1,
				       reports->len);
			return FALSE;
		}
		fu_progress_step_done(progress);
	}
	return TRUE;
}

/* a protocol 3 report and its reply, which acknowledges it whatever it holds */
static gboolean
fu_oskel_controller_device_exchange(FuOskelControllerDevice *self,
				    GByteArray *report,
				    guint reply_timeout,
				    GError **error)
{
	g_autoptr(FuStructOskelControllerP3Reply) st_reply =
	    fu_struct_oskel_controller_p3_reply_new();

	if (!fu_oskel_controller_device_send(self,
					     report,
					     FU_HID_DEVICE_FLAG_USE_INTERRUPT_TRANSFER,
					     error))
		return FALSE;
	if (!fu_oskel_controller_device_receive(self,
						0x0,
						st_reply->buf->data + 1,
						st_reply->buf->len - 1,
						reply_timeout,
						FU_HID_DEVICE_FLAG_USE_INTERRUPT_TRANSFER,
						error)) {
		g_prefix_error_literal(error, "no reply: ");
		return FALSE;
	}
	return TRUE;
}

/* protocol 3: begin, the blocks and end, each with its reply; after a failed block the end
 * report still goes, so that the boot loader leaves its transfer */
static gboolean
fu_oskel_controller_device_write_protocol3(FuOskelControllerDevice *self,
					   GBytes *buffer,
					   gsize image_length,
					   FuProgress *progress,
					   GError **error)
{
	guint32 total = 0;
	g_autoptr(GByteArray) begin = NULL;
	g_autoptr(GByteArray) end = NULL;
	g_autoptr(GPtrArray) blocks = NULL;
	g_autoptr(GError) error_block = NULL;

	begin = fu_oskel_controller_p3_begin_report(image_length, error);
	if (begin == NULL)
		return FALSE;
	blocks = fu_oskel_controller_p3_block_reports(g_bytes_get_data(buffer, NULL),
						      g_bytes_get_size(buffer),
						      image_length,
						      error);
	if (blocks == NULL)
		return FALSE;

	fu_progress_set_id(progress, G_STRLOC);
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_ERASE, 5, "begin");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_WRITE, 94, NULL);
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_BUSY, 1, "end");

	if (!fu_oskel_controller_device_exchange(self,
						 begin,
						 FU_OSKEL_CONTROLLER_DEVICE_ERASE_TIMEOUT,
						 error)) {
		g_prefix_error_literal(error, "failed to begin the transfer: ");
		return FALSE;
	}
	fu_progress_step_done(progress);

	fu_progress_set_id(fu_progress_get_child(progress), G_STRLOC);
	fu_progress_set_steps(fu_progress_get_child(progress), blocks->len);
	for (guint i = 0; i < blocks->len; i++) {
		GByteArray *block = g_ptr_array_index(blocks, i);

		/* counted before it is sent: the end report's total covers a failed block too */
		total += fu_oskel_controller_p3_block_sum(block);
		if (!fu_oskel_controller_device_exchange(self,
							 block,
							 FU_OSKEL_CONTROLLER_DEVICE_REPLY_TIMEOUT,
							 &error_block)) {
			g_prefix_error(&error_block,
				       "failed to send block %u of %u: ",
				       i + 1,
				       blocks->len);
			break;
		}
		fu_progress_step_done(fu_progress_get_child(progress));
	}
	fu_progress_step_done(progress);

	end = fu_oskel_controller_p3_end_report(image_length, total);
	if (!fu_oskel_controller_device_exchange(self,
						 end,
						 FU_OSKEL_CONTROLLER_DEVICE_REPLY_TIMEOUT,
						 error)) {
		if (error_block != NULL) {
			g_prefix_error_literal(error, "the end report failed too: ");
			g_prefix_error(error, "%s; ", error_block->message);
		} else {
			g_prefix_error_literal(error, "failed to end the transfer: ");
		}
		return FALSE;
	}
	if (error_block != NULL) {
		g_propagate_error(error, g_steal_pointer(&error_block));
		return FALSE;
	}
	fu_progress_step_done(progress);
	return TRUE;
}

static gboolean
fu_oskel_controller_device_write_firmware(FuDevice *device,
					  FuFirmware *firmware,
					  FuProgress *progress,
					  FwupdInstallFlags flags,
					  GError **error)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);
	g_autoptr(GBytes) buffer = NULL;

	buffer = fu_oskel_controller_firmware_get_buffer(FU_OSKEL_CONTROLLER_FIRMWARE(firmware),
							 error);
	if (buffer == NULL)
		return FALSE;
	if (fu_device_has_protocol(device, FU_OSKEL_CONTROLLER_PROTOCOL1))
		return fu_oskel_controller_device_write_protocol1(self, buffer, progress, error);
	if (fu_device_has_protocol(device, FU_OSKEL_CONTROLLER_PROTOCOL2))
		return fu_oskel_controller_device_write_protocol2(self, buffer, progress, error);
	return fu_oskel_controller_device_write_protocol3(self,
							  buffer,
							  fu_firmware_get_size(firmware),
							  progress,
							  error);
}

static gboolean
fu_oskel_controller_device_set_quirk_kv(FuDevice *device,
					const gchar *key,
					const gchar *value,
					GError **error)
{
	FuOskelControllerDevice *self = FU_OSKEL_CONTROLLER_DEVICE(device);

	if (g_strcmp0(key, "OskelControllerImageFill") == 0) {
		guint64 tmp = 0;
		if (!fu_strtoull(value, &tmp, 0, G_MAXUINT8, FU_INTEGER_BASE_AUTO, error))
			return FALSE;
		self->image_fill = (guint8)tmp;
		self->has_image_fill = TRUE;
		return TRUE;
	}
	g_set_error_literal(error, FWUPD_ERROR, FWUPD_ERROR_NOT_SUPPORTED, "quirk key not supported");
	return FALSE;
}

static void
fu_oskel_controller_device_set_progress(FuDevice *self, FuProgress *progress)
{
	fu_progress_set_id(progress, G_STRLOC);
	fu_progress_add_step(progress, FWUPD_STATUS_DECOMPRESSING, 0, "prepare-fw");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_RESTART, 0, "detach");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_WRITE, 100, "write");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_RESTART, 0, "attach");
	fu_progress_add_step(progress, FWUPD_STATUS_DEVICE_BUSY, 0, "reload");
}

static void
fu_oskel_controller_device_init(FuOskelControllerDevice *self)
{
	FuDevice *device = FU_DEVICE(self);
	fu_device_set_version_format(device, FWUPD_VERSION_FORMAT_PAIR);
	fu_device_add_icon(device, "input-gaming");
	fu_device_add_flag(device, FWUPD_DEVICE_FLAG_UPDATABLE);
	fu_device_add_flag(device, FWUPD_DEVICE_FLAG_UNSIGNED_PAYLOAD);
	fu_device_add_flag(device, FWUPD_DEVICE_FLAG_IS_BOOTLOADER);
	/* the boot loader hands over to the new application, which is the controller in its
	 * normal mode: this device does not come back, and nothing reads the new version */
	fu_device_add_flag(device, FWUPD_DEVICE_FLAG_WILL_DISAPPEAR);
	fu_device_add_flag(device, FWUPD_DEVICE_FLAG_INSTALL_SKIP_VERSION_CHECK);
	/* a controller that is gone is not worth nine more start reports */
	fu_device_retry_add_recovery(device, FWUPD_ERROR, FWUPD_ERROR_NOT_FOUND, NULL);
	fu_hid_device_add_flag(FU_HID_DEVICE(self), FU_HID_DEVICE_FLAG_AUTODETECT_EPS);
}

static void
fu_oskel_controller_device_class_init(FuOskelControllerDeviceClass *klass)
{
	FuDeviceClass *device_class = FU_DEVICE_CLASS(klass);
	device_class->to_string = fu_oskel_controller_device_to_string;
	device_class->probe = fu_oskel_controller_device_probe;
	device_class->prepare_firmware = fu_oskel_controller_device_prepare_firmware;
	device_class->write_firmware = fu_oskel_controller_device_write_firmware;
	device_class->set_quirk_kv = fu_oskel_controller_device_set_quirk_kv;
	device_class->set_progress = fu_oskel_controller_device_set_progress;
}
