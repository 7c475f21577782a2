// The download worker: one thread per download.
#pragma once

#include "platform/types.h"
#include "platform/ui.h"

// Starts a DownloadWorker for the dialog. The caller has set downloadState.mode and busy,
// loaded the image and opened the transfer handle. If the thread cannot be created, busy
// and UpdateModeFlag are cleared again and the result is false: the caller tells the user.
bool StartDownloadWorker(platform::WindowHandle dialog);

// The thread routine: runs the download of downloadState.mode and reports its outcome.
void DownloadWorker(void* dialog);

// The outcome of a download: handed to the user interface as a value, then shown in its box,
// "Download Successful!" or "Download Failture!".
void ShowDownloadResult(platform::WindowHandle dialog, platform::DownloadOutcome outcome);
// The same, with the box shown once the notification the dialog is handling has returned (the
// arrival road).
void ShowDownloadResultLater(platform::WindowHandle dialog, platform::DownloadOutcome outcome);
