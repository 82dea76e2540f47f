; The Windows installer: the agent as the service "Pelkomon", its tools, and
; default settings under HKLM\Software\Pelko. Made on Linux by
; scripts/package.sh:
;   makensis -DVERSION=0.1 -DBIN=build/mingw-release/bin -DOUTFILE=... pelko.nsi
; A 64-bit installer, so that Program Files and the registry are the native
; ones. /S installs (and the uninstaller removes) without a question.

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=x.y)"
!endif
!ifndef BIN
  !error "BIN is not defined: the folder with the release programs"
!endif
!ifndef OUTFILE
  !define OUTFILE "PelkoSetup-${VERSION}.exe"
!endif

Unicode true
Target amd64-unicode
; Tests make theirs quicker with -DCOMPRESSOR=zlib.
!ifndef COMPRESSOR
  !define COMPRESSOR "/SOLID lzma"
!endif
SetCompressor ${COMPRESSOR}
RequestExecutionLevel admin
ManifestSupportedOS all

!include LogicLib.nsh
!include StrFunc.nsh
${StrStr}
${UnStrStr}

!define PRODUCT "Pelko"
!define SERVICE "Pelkomon"
!define SETTINGS "Software\Pelko"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelko"
!define EVENT_SOURCE "SYSTEM\CurrentControlSet\Services\EventLog\Application\Pelko"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Pelko"
ShowInstDetails show
ShowUnInstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} print accounting setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Pelko developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; StopService PREFIX: stops the service if it runs and waits, bounded, until
; the service manager reports it stopped, so that its program can be replaced
; or removed. Nothing happens where the service does not exist.
!macro StopService UN
  nsExec::ExecToStack '"$SYSDIR\sc.exe" stop ${SERVICE}'
  Pop $0
  Pop $1
  ; Only a stop that was sent or is under way is waited for (1061: stop
  ; pending); a service that is not running or whose program has ended
  ; already refuses it.
  ${If} $0 == 0
  ${OrIf} $0 == 1061
    StrCpy $2 0
  ${Else}
    StrCpy $2 1000
  ${EndIf}
  ${DoWhile} $2 <= 60
    nsExec::ExecToStack '"$SYSDIR\sc.exe" query ${SERVICE}'
    Pop $0
    Pop $1
    ${If} $0 != 0
      ${Break}  ; no such service
    ${EndIf}
    ${${UN}StrStr} $3 $1 "STOPPED"
    ${If} $3 != ""
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 > 60
      DetailPrint "The service ${SERVICE} did not stop within 30 s"
    ${Else}
      Sleep 500
    ${EndIf}
  ${Loop}
!macroend

Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

; Icacls ARGS: runs Windows's icacls.exe; a failure ends the install, since
; the folder would keep rights that let others plant files beside the
; program the agent runs as SYSTEM.
!macro Icacls ARGS
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" ${ARGS}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Cannot set the rights of $4 (icacls.exe: $0)"
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

; DefaultDword NAME VALUE: writes the value only where the settings have none.
!macro DefaultDword NAME VALUE
  ClearErrors
  ReadRegDWORD $0 HKLM "${SETTINGS}" "${NAME}"
  ${If} ${Errors}
    ClearErrors
    ReadRegStr $0 HKLM "${SETTINGS}" "${NAME}"
    ${If} ${Errors}
      WriteRegDWORD HKLM "${SETTINGS}" "${NAME}" ${VALUE}
    ${EndIf}
  ${EndIf}
!macroend

Section "Pelko"
  ; An upgrade replaces a running agent's program: stop it first.
  !insertmacro StopService ""

  SetOutPath "$INSTDIR"
  File "${BIN}\Pelkomon.exe"
  File "${BIN}\stopmon.exe"
  File "${BIN}\Sendrik.exe"
  File "${BIN}\pelkoreport.exe"
  File "${BIN}\pelkoctl.exe"
  File "${BIN}\pelkodb.exe"
  File "${BIN}\Tavisk.xsl"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Defaults, each only where none exists: an upgrade keeps the settings.
  ClearErrors
  ReadRegStr $4 HKLM "${SETTINGS}" "Path"
  ${If} ${Errors}
  ${OrIf} $4 == ""
    StrCpy $4 "$APPDATA\Pelko"  ; ProgramData, as the context is "all"
    WriteRegStr HKLM "${SETTINGS}" "Path" "$4"
  ${EndIf}
  !insertmacro DefaultDword AppIsRunning 0
  !insertmacro DefaultDword nPrinters 0
  ; The agent does not make its logs folder.
  CreateDirectory "$4\Logs"
  ; Its own folder under ProgramData, whose rights would let Users add
  ; files: Administrators and SYSTEM change it, Pelko Readers read the logs,
  ; no one else reaches it. The well-known groups go by SID, which every
  ; language of Windows knows; net.exe says 2 for a group that exists. A
  ; Path chosen elsewhere keeps the rights its administrator gave it.
  ${If} $4 == "$APPDATA\Pelko"
    nsExec::ExecToLog '"$SYSDIR\net.exe" localgroup "Pelko Readers" /add /comment:"read the print logs"'
    Pop $0
    !insertmacro Icacls '"$4" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F "Pelko Readers:(OI)(CI)RX"'
    ; A folder someone else made before the install would stay theirs.
    !insertmacro Icacls '"$4" /setowner *S-1-5-32-544'
    !insertmacro Icacls '"$4\Logs" /setowner *S-1-5-32-544'
  ${EndIf}
  ; The agent starts the mail program as Sendrik.exe in Path; made anew, so
  ; that it is the installer's and has the folder's rights.
  Delete "$4\Sendrik.exe"
  CopyFiles /SILENT "$INSTDIR\Sendrik.exe" "$4\Sendrik.exe"
  ; Logs opened in a browser show as reports with the stylesheet beside them.
  ${IfNot} ${FileExists} "$4\Logs\Tavisk.xsl"
    CopyFiles /SILENT "$INSTDIR\Tavisk.xsl" "$4\Logs\Tavisk.xsl"
  ${EndIf}

  ; The agent reports what it worked around to the Event Log as "Pelko";
  ; Pelkomon.exe holds the texts of its event IDs and of its 6 categories
  ; (docs/monitoring.md).
  WriteRegExpandStr HKLM "${EVENT_SOURCE}" "EventMessageFile" "$INSTDIR\Pelkomon.exe"
  WriteRegExpandStr HKLM "${EVENT_SOURCE}" "CategoryMessageFile" "$INSTDIR\Pelkomon.exe"
  WriteRegDWORD HKLM "${EVENT_SOURCE}" "CategoryCount" 6
  WriteRegDWORD HKLM "${EVENT_SOURCE}" "TypesSupported" 7

  ; Programs and Features.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Pelko developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pelkomon.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The service starts at boot as LocalSystem, with no one logged on: the
  ; agent writes HKLM and reads every user's jobs. An upgrade keeps the
  ; service and points it at the program again.
  nsExec::ExecToLog '"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\Pelkomon.exe\"" start= auto DisplayName= "Pelko print accounting"'
  Pop $0
  ${If} $0 != 0
    nsExec::ExecToLog '"$SYSDIR\sc.exe" config ${SERVICE} binPath= "\"$INSTDIR\Pelkomon.exe\"" start= auto'
    Pop $0
    ; Where sc.exe cannot change it (Wine's has no "config"), a service that
    ; already runs this program will do.
    ReadRegStr $1 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
    ${If} $0 != 0
    ${AndIf} $1 != '"$INSTDIR\Pelkomon.exe"'
      DetailPrint "Cannot register the service ${SERVICE} (sc.exe: $0)"
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\sc.exe" description ${SERVICE} "Accounts the pages printed on the configured printers"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The service ${SERVICE} did not start (sc.exe: $0)"
  ${EndIf}
SectionEnd

; Removes the programs and the service; the settings, the logs and the
; folder they are in stay.
Section "Uninstall"
  !insertmacro StopService "Un"
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete ${SERVICE}'
  Pop $0

  Delete "$INSTDIR\Pelkomon.exe"
  Delete "$INSTDIR\stopmon.exe"
  Delete "$INSTDIR\Sendrik.exe"
  Delete "$INSTDIR\pelkoreport.exe"
  Delete "$INSTDIR\pelkoctl.exe"
  Delete "$INSTDIR\pelkodb.exe"
  Delete "$INSTDIR\Tavisk.xsl"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; The copy of the mail program the installer put in the settings' Path.
  ClearErrors
  ReadRegStr $4 HKLM "${SETTINGS}" "Path"
  ${IfNot} ${Errors}
  ${AndIf} $4 != ""
    Delete "$4\Sendrik.exe"
  ${EndIf}

  DeleteRegKey HKLM "${EVENT_SOURCE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
