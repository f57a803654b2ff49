// resource.h - the ids of VzrPack's resources, for the resource script and
// the code alike (quickpackwindow.cpp checks them against the presenter's).
#pragma once

#define IDI_VZRPACK 128
#define IDD_VZRPACK 102

#define IDB_PACKFOLDER 135
#define IDB_PACKLEVEL 136
#define IDB_ALL 139
#define IDB_ALL_PRESSED 140
#define IDB_PACKLEVEL_PRESSED 141
#define IDB_PACKFOLDER_PRESSED 142

#define IDC_LEVELLIST 1004
#define IDC_PACKLEVEL 1005
#define IDC_FOLDERLIST 1006
#define IDC_PACKFOLDER 1007
#define IDC_STATUS 1008
#define IDC_ALLLEVELS 1009
#define IDC_ALLFOLDERS 1010
#define IDC_HELPBUTTON 1012
