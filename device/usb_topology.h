// The walk over USB host controllers, hubs and ports.
#pragma once

// Visits every host controller, hub and port; sets downloadState.TopologyMatchFlag when a
// device's identification string carries one of the match texts.
void UsbTopologyWalk();
