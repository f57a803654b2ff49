// resource.h - the ids of VZR_Toolset's resources, for the resource script
// and the code alike (toolsetwindow.cpp checks them against the presenter's).
#pragma once

#define IDI_TOOLSET 128
#define IDM_TOOLSET 129
#define IDD_TOOLSET 102
#define IDD_PACKDIR 130

#define ID_FILE_NEW 32780
#define ID_FILE_OPEN 32771
#define ID_APP_EXIT 57665
#define ID_EXTRACT_ALL 32775
#define ID_EXTRACT_SELECTED 32776
#define ID_EXTRACT_MODFOLDER 32777
#define ID_PACK_DIRECTORY 32779
#define ID_SELECT_BYKEYWORD 32778

#define IDC_MAINLIST 1001
#define IDC_STATUS 1012
#define IDC_CURRENTFILE 1014
#define IDC_SAVECHANGES 1017
#define IDC_TEXT 1024

#define IDC_SOURCEDIR 1020
#define IDC_BASEPATH 1021
#define IDC_BROWSE 1022
#define IDC_PACK 1023
