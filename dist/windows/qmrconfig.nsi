; The Windows installer: qmrconfig-setup-<version>.exe, built by the CMake target `installer`
; (cmake/installer.cmake), which passes the paths of the built programs:
;   makensis -DVERSION=3.20.1 -DOUTFILE=/abs/qmrconfig-setup-3.20.1.exe
;            -DREADME=/abs/readme.txt -DQMRCTL=/abs/qmrctl.exe [-DQMRCONFIG=/abs/qmrconfig.exe]
;            qmrconfig.nsi
; Every path is absolute: makensis runs in this script's folder.
;
; It installs into $PROGRAMFILES64\TAVEX\QMRConfig for every user, adds a Start-menu folder
; and an uninstaller registered with Windows, and leaves the PATH alone (a silent change of
; the system PATH is hard to undo cleanly; the read-me says how to add the folder by hand).
; /S installs and uninstalls silently; /D=DIR (last, unquoted) picks another folder.

Unicode true
; 64-bit: the programs are x86_64, and the Wine the tests run under starts 64-bit programs
; only. A 64-bit installer also sees the 64-bit registry and Program Files without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "pass -D${NAME}=... (cmake --build <dir> --target installer does)"
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine OUTFILE
!insertmacro RequireDefine README
!insertmacro RequireDefine QMRCTL

!define PRODUCT "QMRConfig"
!define PUBLISHER "TAVEX"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qmrconfig"
!define STARTMENU "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PUBLISHER}\${PRODUCT}"
; An update goes where the last installation went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ManifestSupportedOS all
ShowInstDetails show
ShowUninstDetails show

; The version resource Windows shows in the file's properties. VIProductVersion takes four
; numbers.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\readme.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the read-me"
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ; The Start-menu entries and the registry entry are for every user of the machine.
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Programs" SecPrograms
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=qmrctl.exe" "${QMRCTL}"
!ifdef QMRCONFIG
  File "/oname=qmrconfig.exe" "${QMRCONFIG}"
!endif
  File "/oname=readme.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; qmrctl is a console program: its entry opens a command prompt in the install folder (a
  ; shortcut starts in the current output path, $INSTDIR) and shows the help, so the next
  ; command can be typed straight away.
  CreateDirectory "${STARTMENU}"
  CreateShortcut "${STARTMENU}\qmrctl command prompt.lnk" "$SYSDIR\cmd.exe" \
    "/k qmrctl.exe --help" "$SYSDIR\cmd.exe" 0 SW_SHOWNORMAL "" \
    "Command prompt in the ${PRODUCT} folder"
!ifdef QMRCONFIG
  CreateShortcut "${STARTMENU}\${PRODUCT}.lnk" "$INSTDIR\qmrconfig.exe" "" \
    "$INSTDIR\qmrconfig.exe" 0 SW_SHOWNORMAL "" "Configure a TAVEX QLN-72RT module"
!endif
  CreateShortcut "${STARTMENU}\Read me.lnk" "$INSTDIR\readme.txt"
  CreateShortcut "${STARTMENU}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qmrctl.exe"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: the folder may have been chosen by hand and hold
  ; other files, so no recursive delete.
  Delete "$INSTDIR\qmrctl.exe"
  Delete "$INSTDIR\qmrconfig.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ; The TAVEX folder of the default location, when nothing else is in it.
  RMDir "$PROGRAMFILES64\${PUBLISHER}"

  Delete "${STARTMENU}\qmrctl command prompt.lnk"
  Delete "${STARTMENU}\${PRODUCT}.lnk"
  Delete "${STARTMENU}\Read me.lnk"
  Delete "${STARTMENU}\Uninstall ${PRODUCT}.lnk"
  RMDir "${STARTMENU}"

  ; The users' settings under HKEY_CURRENT_USER\Software\TAVEX\QMRConfig stay: they belong
  ; to each user, and a reinstallation picks them up again.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
