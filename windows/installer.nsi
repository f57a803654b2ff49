; The Windows setup of the VZR Tools, for makensis (scripts/package-windows.sh).
;   makensis -DVZR_VERSION=2.05 -DVZR_STAGE=dir -DVZR_OUTFILE=setup.exe installer.nsi
; VZR_STAGE holds what is installed: vzr.exe, vzr-archive.ico, LICENSE.txt and,
; when they were built, VZR_Toolset.exe and VzrPack.exe.
;
; Per user (under the user's Programs folder) or per machine (Program Files),
; chosen on a page or with /CurrentUser or /AllUsers. /S installs silently;
; /AddToPath adds the folder to the user's PATH without the components page.
; The uninstaller is listed in Apps & Features and takes everything away again.

Unicode true
; A 64-bit setup: the programs are 64-bit, and a 64-bit setup also starts
; where no 32-bit subsystem is installed.
Target amd64-unicode
ManifestSupportedOS Win10
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VZR_VERSION | VZR_STAGE | VZR_OUTFILE
  !error "define VZR_VERSION, VZR_STAGE and VZR_OUTFILE"
!endif

!define PRODUCT "VZR Tools"
!define PUBLISHER "The VZR Tools developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VzrTools"
!define PROGID "VzrTools.Archive"
!define CLASSES "Software\Classes"

!if /FileExists "${VZR_STAGE}/VZR_Toolset.exe"
  !define HAVE_TOOLSET
!endif
!if /FileExists "${VZR_STAGE}/VzrPack.exe"
  !define HAVE_VZRPACK
!endif

Name "${PRODUCT} ${VZR_VERSION}"
OutFile "${VZR_OUTFILE}"
BrandingText "${PRODUCT} ${VZR_VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
; A new setup goes where the last one went, in the same mode.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include StrFunc.nsh
!include WinMessages.nsh
!include WinVer.nsh
${UnStrRep}

VIProductVersion "${VZR_VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VZR_VERSION}"
VIAddVersionKey "ProductVersion" "${VZR_VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}, MIT License"

!define MUI_ICON "${VZR_STAGE}/vzr-archive.ico"
!define MUI_UNICON "${VZR_STAGE}/vzr-archive.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

; The licence asks nothing of the user: the page informs, Next goes on.
!define MUI_LICENSEPAGE_TEXT_BOTTOM "${PRODUCT} is free software under the MIT License."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${VZR_STAGE}/LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Longer values than this cannot be read whole; such a PATH is left alone
; rather than cut short.
!define PATH_LIMIT ${NSIS_MAX_STRLEN}

Section "-Programs" SecPrograms
  SetOutPath "$INSTDIR"
  File "${VZR_STAGE}/vzr.exe"
  File "${VZR_STAGE}/vzr-archive.ico"
  File "${VZR_STAGE}/LICENSE.txt"
  !ifdef HAVE_TOOLSET
    File "${VZR_STAGE}/VZR_Toolset.exe"
  !endif
  !ifdef HAVE_VZRPACK
    File "${VZR_STAGE}/VzrPack.exe"
  !endif
  WriteUninstaller "$INSTDIR\uninstall.exe"
  Call RegisterUninstaller
SectionEnd

Section "Start menu entries" SecStartMenu
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !ifdef HAVE_TOOLSET
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\VZR_Toolset.lnk" "$INSTDIR\VZR_Toolset.exe"
  !endif
  !ifdef HAVE_VZRPACK
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\VzrPack.lnk" "$INSTDIR\VzrPack.exe"
  !endif
  ; A command prompt in the program folder, where vzr is found without PATH.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\vzr command line.lnk" "$SYSDIR\cmd.exe" "/k vzr --help" \
    "$INSTDIR\vzr-archive.ico"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe" \
    "/$MultiUser.InstallMode"
SectionEnd

Section "Open .vzr files with ${PRODUCT}" SecFileType
  WriteRegStr SHCTX "${CLASSES}\.vzr" "" "${PROGID}"
  WriteRegStr SHCTX "${CLASSES}\.vzr" "Content Type" "application/x-vzr-archive"
  WriteRegStr SHCTX "${CLASSES}\.vzr\OpenWithProgids" "${PROGID}" ""
  WriteRegStr SHCTX "${CLASSES}\${PROGID}" "" "VZR game archive"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\vzr-archive.ico,0"
  !ifdef HAVE_TOOLSET
    WriteRegStr SHCTX "${CLASSES}\${PROGID}\shell\open" "" "Open with VZR_Toolset"
    WriteRegStr SHCTX "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\VZR_Toolset.exe" "%1"'
    WriteRegStr SHCTX "${CLASSES}\Applications\VZR_Toolset.exe" "FriendlyAppName" "VZR_Toolset"
    WriteRegStr SHCTX "${CLASSES}\Applications\VZR_Toolset.exe\SupportedTypes" ".vzr" ""
    WriteRegStr SHCTX "${CLASSES}\Applications\VZR_Toolset.exe\shell\open\command" "" \
      '"$INSTDIR\VZR_Toolset.exe" "%1"'
  !endif
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "RegisteredFileType" 1
  Call NotifyShellOfAssociations
SectionEnd

Section /o "Add the program folder to my PATH" SecPath
  Call AddToUserPath
SectionEnd

Function .onInit
  ${IfNot} ${AtLeastWin10}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 10 or later." /SD IDOK
    Abort
  ${EndIf}
  ; $INSTDIR is set here only by /D=; the install mode's default must not
  ; replace it.
  StrCpy $R9 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $R9 != ""
    StrCpy $INSTDIR $R9
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AddToPath" $R1
  ${IfNot} ${Errors}
    SectionGetFlags ${SecPath} $R1
    IntOp $R1 $R1 | ${SF_SELECTED}
    SectionSetFlags ${SecPath} $R1
  ${EndIf}
FunctionEnd

Function RegisterUninstaller
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VZR_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vzr-archive.ico"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
FunctionEnd

Function NotifyShellOfAssociations
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'  ; SHCNE_ASSOCCHANGED
FunctionEnd

Function AddToUserPath
  ReadRegStr $0 HKCU "Environment" "Path"
  StrLen $1 $0
  IntOp $1 $1 + 1
  StrLen $2 "$INSTDIR"
  IntOp $1 $1 + $2
  ${If} $1 >= ${PATH_LIMIT}
    DetailPrint "PATH is too long to change here: add $INSTDIR to it yourself"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Your PATH is too long for the setup to change safely.$\r$\nAdd $INSTDIR to it yourself." /SD IDOK
    Return
  ${EndIf}
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 != ""
    Return  ; already there
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKCU "Environment" "Path" "$0"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AddedToPath" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Function un.RemoveFromUserPath
  ReadRegStr $0 HKCU "Environment" "Path"
  StrLen $1 $0
  ${If} $1 >= ${PATH_LIMIT}
    DetailPrint "PATH is too long to change here: remove $INSTDIR from it yourself"
    Return
  ${EndIf}
  ${UnStrRep} $0 ";$0;" ";$INSTDIR;" ";"
  ; Take off the two separators added above.
  StrCpy $0 $0 "" 1
  StrCpy $0 $0 -1
  ${If} $0 == ""
    DeleteRegValue HKCU "Environment" "Path"
  ${Else}
    WriteRegExpandStr HKCU "Environment" "Path" "$0"
  ${EndIf}
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
FunctionEnd

Function un.UnregisterFileType
  ReadRegStr $0 SHCTX "${CLASSES}\.vzr" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "${CLASSES}\.vzr" ""
    DeleteRegValue SHCTX "${CLASSES}\.vzr" "Content Type"
  ${EndIf}
  DeleteRegValue SHCTX "${CLASSES}\.vzr\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\.vzr\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\.vzr"
  DeleteRegKey SHCTX "${CLASSES}\${PROGID}"
  DeleteRegKey SHCTX "${CLASSES}\Applications\VZR_Toolset.exe"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    Call un.RemoveFromUserPath
  ${EndIf}
  Call un.UnregisterFileType
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  ; Only what the setup put there: a file the user left in the folder stays,
  ; and so does the folder then.
  Delete "$INSTDIR\vzr.exe"
  Delete "$INSTDIR\VZR_Toolset.exe"
  Delete "$INSTDIR\VzrPack.exe"
  Delete "$INSTDIR\vzr-archive.ico"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
