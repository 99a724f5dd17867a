; The Windows installer of flashtool, built on Linux with makensis (see
; cmake/WindowsSetup.cmake): installs flashtool.exe, flashtool-station.exe,
; flashtool-cli.exe, Installer.dll and the README into Program Files, adds a
; Start-menu shortcut for each window and an uninstaller, and takes all of it away again on uninstall.
; 64-bit and Unicode: the programs are 64-bit builds.
;
; Defines given by the build: VERSION (x.y.z), STAGE (folder holding the
; files to install), ICON (the program icon), OUTFILE (the setup program).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | ICON | OUTFILE
    !error "makensis needs -DVERSION=, -DSTAGE=, -DICON= and -DOUTFILE="
!endif

!define PRODUCT "flashtool"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\flashtool (Corvel M418).lnk"
!define STATION_SHORTCUT "$SMPROGRAMS\flashtool station (Corvel M418).lnk"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "Corvel M418 firmware update: setup"
VIAddVersionKey /LANG=0 "CompanyName" "flashtool developers"
VIAddVersionKey /LANG=0 "LegalCopyright" "flashtool developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "flashtool"
    ; For every user of the machine, as Program Files is.
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${STAGE}\flashtool.exe"
    File "${STAGE}\flashtool-station.exe"
    File "${STAGE}\flashtool-cli.exe"
    File "${STAGE}\Installer.dll"
    File "${STAGE}\README.md"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The window writes temp.log in its working folder when it closes, and
    ; Program Files is not writable for a user: the shortcut starts it in the
    ; shared Documents folder.
    SetOutPath "$DOCUMENTS"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\flashtool.exe" "" "$INSTDIR\flashtool.exe" 0
    ; The station writes its logs under the user's AppData, wherever it starts.
    CreateShortcut "${STATION_SHORTCUT}" "$INSTDIR\flashtool-station.exe" "" \
        "$INSTDIR\flashtool-station.exe" 0
    SetOutPath "$INSTDIR"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (Corvel M418 firmware update)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "flashtool developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\flashtool.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "${SHORTCUT}"
    Delete "${STATION_SHORTCUT}"
    Delete "$INSTDIR\flashtool.exe"
    Delete "$INSTDIR\flashtool-station.exe"
    Delete "$INSTDIR\flashtool-cli.exe"
    Delete "$INSTDIR\Installer.dll"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\uninstall.exe"
    ; Only if empty: files the user put there stay.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
