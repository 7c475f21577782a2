// Control and resource identifiers of the main dialog.
#pragma once

#define IDD_MAIN 101
#define IDI_MAIN 102
#define IDC_PATH 1000
#define IDC_BANNER 1006
#define IDC_START 1007
#define IDC_PROGRESS 1008
#define IDC_OPEN 1009
#define IDC_CHECKSUM 1010

#define IDR_IMAGE_MODE1 106
#define IDR_IMAGE_MODE2 107
#define IDR_IMAGE_MODE3 108
