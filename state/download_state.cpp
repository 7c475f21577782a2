#include "state/download_state.h"

DownloadState downloadState;

void ResetDownloadState()
{
    downloadState.mode = 1;
    downloadState.busy = 0;
    downloadState.transferRunning = 0;
    downloadState.arrivalCount = 0;
    downloadState.UpdateModeFlag = 0;
    downloadState.TopologyMatchFlag = 0;
    downloadState.closing = 0;
    downloadState.sessionEnding = 0;
    downloadState.closeWhenDone = 0;
    downloadState.stopAsked = 0;
    downloadState.stopped = kNotStopped;
}

bool DownloadsHeldOff()
{
    return downloadState.busy != 0 || downloadState.closing != 0 || downloadState.sessionEnding != 0;
}

bool TransferGoesOn(bool deviceTookAReport)
{
    if (downloadState.stopAsked == 0) return true;
    downloadState.stopped = deviceTookAReport ? kStoppedPartlyWritten : kStoppedBeforeWriting;
    return false;
}
