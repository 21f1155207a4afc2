// Resource ids of the program.
#pragma once
#define IDI_TRAY 106
#define IDM_TRAY 107
