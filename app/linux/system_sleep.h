// What the program does when logind announces a sleep or a shutdown while a download runs. Its
// delay locks (platform/linux/session_guard.h) give the download logind's delay, 5 s by default:
// if what is left of the transfer fits in it, the transfer finishes; otherwise it ends at its next
// report boundary (downloadState.stopAsked), and so it does if it has not finished when the delay
// is nearly over. Either way the locks go with the transfer's end, and the sleep goes ahead. The
// program says why, and what became of the controller. After the resume, with --wait, the
// controllers whose download the sleep stopped are taken again as if they had just arrived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// With --wait, a download that a sleep stopped is done again after the resume; without it the
// program says to run it again.
void SetResumeDownloads(bool resume);

// The download's transfer starts, and its progress bar's range and position (the transfer's
// pace, from which the time left is told).
void NoteTransferStarted();
void NoteTransferRange(int low, int high);
void NoteTransferPosition(int position);

// The download has ended, its locks still held: if it was stopped, says what became of the
// controller and what to do.
void NoteDownloadEnded();

// Says once each what is not held during the download, and why.
void TellNotHeld(const std::vector<std::string>& notHeld);

// Takes logind's announcements (and the portal's late refusals); the roads call it on every turn
// of their loops. Acts on a sleep or shutdown while a download runs, and on the delay running out.
void TakeSystemTransitions();

// Between a sleep's announcement and the resume, and once a shutdown is announced: no download
// starts.
bool SystemGoingDown();

// After the resume: the ids of the controllers whose download the sleep stopped, once.
struct StoppedController {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};
std::vector<StoppedController> TakeControllersToResume();
