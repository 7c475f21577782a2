// The decisions of the main dialog, kept apart from the window system so that they can be
// tested on their own. The dialog procedure calls these and does the window work around them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// WM_INITDIALOG: creates the one DeviceLink.
void DialogCreateLink();

// WM_DESTROY: closes and deletes the DeviceLink and releases the firmware buffer.
void DialogDestroyLink();

// "Start": looks for a controller and starts a download when it is in update mode 2 or 3.
void DialogStart(platform::WindowHandle dialog);

// Start's second half, which DialogStart runs once it found a controller in an update mode: the
// finders of update modes 2 and 3, and the download of the first controller they accept. A front
// end that goes on after a controller in its normal mode (the terminal program) calls it itself.
void DialogStartUpdateModeDownload(platform::WindowHandle dialog);

// WM_DEVICECHANGE: filters the event and hands arrivals to the watcher.
// Returns the dialog procedure's result (TRUE 1 or FALSE 0).
int DialogDeviceChange(platform::WindowHandle dialog, std::uint32_t event, void* eventData);

// A HID interface has arrived (its device path), told by a front end that learns of arrivals
// other than through WM_DEVICECHANGE: handed to the watcher, and acted on as for WM_DEVICECHANGE.
void DialogInterfaceArrived(platform::WindowHandle dialog, const std::string& interfacePath);

// Whether the dialog may close now: not while a download is under way.
bool DialogMayClose();

// Whether the user's session may end now (WM_QUERYENDSESSION): not while a transfer runs. A
// download's result box, which may wait for a click for hours, does not hold the session.
bool DialogMayEndSession();

// A request to close the dialog (the close box, Escape, WM_CLOSE): refused while a download is
// under way. Once a close is accepted the dialog is on its way out, though it may take a while to
// go: a message box of its own still runs its message loop, in which notifications keep coming.
// From then on no road starts a download, and Start does not go on after its box.
bool DialogAcceptClose();

// WM_QUERYENDSESSION: whether the session may end now (DialogMayEndSession). Once it may, Windows
// may still take long to end it (it asks the other programs, the user may look at the list of
// programs that hold it up): from then on no road starts a download until DialogSessionEnded.
bool DialogQueryEndSession();

// WM_ENDSESSION: whether the session ends after all (ending) and whether Windows asks the program
// to close (closeApp: ENDSESSION_CLOSEAPP, the Restart Manager, for an installer that must replace
// the program). Not ending: downloads may start again. Ending: none starts any more; and when
// Windows asks the program to close, the result is true when the dialog is to end now (no
// download under way); a download under way ends the dialog itself once it has ended.
bool DialogSessionEnded(bool ending, bool closeApp);

enum class OpenResult {
    Rejected,    // not a ".bin" name: nothing changed
    Busy,        // a download is under way: nothing changed
    Unreadable,  // the path is shown, the file could not be read
    Read,        // the path and the byte sum are shown
};

// "Open": reads the chosen file into the firmware buffer (at most the buffer's size), unless a
// download is under way. Shows "Not supported file type!" for a name without ".bin" or a file
// that cannot be read. When the file was read, checksumText receives its byte sum as "0x%x".
OpenResult DialogOpenFile(platform::WindowHandle dialog, const std::string& path,
                          std::string& checksumText);
