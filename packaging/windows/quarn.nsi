; Quarn's Windows installer, built by scripts/build-windows.sh:
;   makensis -DVERSION=1.3.0 -DSTAGE=<folder with quarn.exe ...> -DOUTFILE=<setup.exe> quarn.nsi
; The program and quarn-cli go to Program Files; the help page next to them. Each user's
; working folder (Documents\Quarn) gets the example configuration and key folders on first
; start of the shortcut, never overwriting what is there.
Unicode true
; A 64-bit installer for the 64-bit programs: it writes the 64-bit registry and Program Files,
; and 64-bit Wine runs it.
Target amd64-unicode
!ifndef VERSION
  !error "VERSION not given"
!endif
!ifndef STAGE
  !error "STAGE not given"
!endif
!ifndef OUTFILE
  !define OUTFILE "quarn-${VERSION}-setup.exe"
!endif

Name "Quarn ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quarn"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quarn"
  SetOutPath "$INSTDIR"
  File "${STAGE}\quarn.exe"
  File "${STAGE}\quarn-cli.exe"
  SetOutPath "$INSTDIR\help"
  File /r "${STAGE}\help\*.*"
  SetOutPath "$INSTDIR\examples"
  File "${STAGE}\Quarnconfig.txt"
  SetOutPath "$INSTDIR\examples\dongleKeys"
  File /r "${STAGE}\dongleKeys\*.*"
  SetOutPath "$INSTDIR\examples\meterKeys"
  File /r "${STAGE}\meterKeys\*.*"

  ; Quarn reads its files from its working folder: the shortcut starts it in Documents\Quarn,
  ; which the installing user gets filled with the examples now.
  SetShellVarContext current
  CreateDirectory "$DOCUMENTS\Quarn"
  SetOverwrite off
  SetOutPath "$DOCUMENTS\Quarn"
  File "${STAGE}\Quarnconfig.txt"
  SetOutPath "$DOCUMENTS\Quarn\dongleKeys"
  File /r "${STAGE}\dongleKeys\*.*"
  SetOutPath "$DOCUMENTS\Quarn\meterKeys"
  File /r "${STAGE}\meterKeys\*.*"
  SetOutPath "$DOCUMENTS\Quarn\help"
  File /r "${STAGE}\help\*.*"
  SetOverwrite on

  SetOutPath "$DOCUMENTS\Quarn"
  CreateShortCut "$SMPROGRAMS\Quarn.lnk" "$INSTDIR\quarn.exe" "" "$INSTDIR\quarn.exe" 0
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn" "DisplayName" "Quarn ${VERSION}"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn" "DisplayVersion" "${VERSION}"
SectionEnd

Section "Uninstall"
  ; The user's working folder keeps its keys: it is theirs, not the installer's.
  SetShellVarContext current
  Delete "$SMPROGRAMS\Quarn.lnk"
  Delete "$INSTDIR\quarn.exe"
  Delete "$INSTDIR\quarn-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /r "$INSTDIR\help"
  RMDir /r "$INSTDIR\examples"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn"
SectionEnd
