; The Windows installer: the agent as the service "Pelkomon", its tools, and
; default settings under HKLM\Software\Pelko. Made on Linux by
; scripts/package.sh:
;   makensis -DVERSION=0.2 -DVERSION4=0.2.0.0 -DBIN=build/mingw-release/bin -DOUTFILE=... pelko.nsi
; A 64-bit installer, so that Program Files and the registry are the native
; ones. /S installs (and the uninstaller removes) without a question. The
; scheduled task that refreshes the report site is made disabled.

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=x.y)"
!endif
!ifndef VERSION4
  !error "VERSION4 is not defined: the version in four numbers (makensis -DVERSION4=x.y.z.w)"
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
!include FileFunc.nsh
!include StrFunc.nsh
${StrStr}
${UnStrStr}
${StrRep}

!define PRODUCT "Pelko"
!define SERVICE "Pelkomon"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${SERVICE}"
!define SETTINGS "Software\Pelko"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelko"
!define EVENT_SOURCE "SYSTEM\CurrentControlSet\Services\EventLog\Application\Pelko"
; At the library's top, so that its removal leaves no empty folder behind.
!define TASK "Pelko report site"
; Its definition, kept beside the programs to make it anew from.
!define TASK_XML "report-site-task.xml"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; No InstallDir: $INSTDIR is empty in .onInit unless /D= named a folder,
; which is how .onInit tells an upgrade with /D= from one without.
ShowInstDetails show
ShowUnInstDetails show

VIProductVersion "${VERSION4}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Pelko developers"
VIAddVersionKey "FileDescription" "${PRODUCT} print accounting setup"
VIAddVersionKey "FileVersion" "${VERSION4}"
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

; The folder Pelko is installed in, "" where it is not: the uninstall
; entry's, or, where that entry is gone, the service program's.
Var Installed

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ReadRegStr $Installed HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $Installed == ""
    ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
    ${StrRep} $0 $0 '"' ''
    ${If} $0 != ""
      ${GetParent} $0 $Installed
    ${EndIf}
  ${EndIf}
  ; Without /D= an upgrade goes where Pelko is.
  ${If} $INSTDIR == ""
    ${If} $Installed != ""
      StrCpy $INSTDIR $Installed
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES64\Pelko"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

; Programs DO DIR: !insertmacro DO DIR NAME for each file the installer
; puts in its folder besides the uninstaller (every version's, so that a
; move or an uninstall leaves none of an older one).
!macro Programs DO DIR
  !insertmacro ${DO} "${DIR}" Pelkomon.exe
  !insertmacro ${DO} "${DIR}" stopmon.exe
  !insertmacro ${DO} "${DIR}" Sendrik.exe
  !insertmacro ${DO} "${DIR}" pelkoreport.exe
  !insertmacro ${DO} "${DIR}" pelkoctl.exe
  !insertmacro ${DO} "${DIR}" pelkodb.exe
  !insertmacro ${DO} "${DIR}" Tavisk.xsl
!macroend
!macro InstallFile DIR NAME
  File "${DIR}\${NAME}"
!macroend
!macro DeleteFile DIR NAME
  Delete "${DIR}\${NAME}"
!macroend

; MoveOut: /D= names another folder than the one Pelko is in. An
; administrator who names a folder wants Pelko there, once: the programs in
; the old folder go (the service, stopped, is pointed at the new ones
; below); the settings and logs are elsewhere and stay. Where the old agent
; cannot be deleted (a program holds it), nothing is moved: the old service
; runs again and the install ends with 2.
Function MoveOut
  DetailPrint "Moving Pelko from $Installed to $INSTDIR"
  ; The agent of a service that reported itself stopped may take a moment
  ; to end: a few tries, bounded.
  StrCpy $1 0
  ${Do}
    Delete "$Installed\Pelkomon.exe"
    ${IfNot} ${FileExists} "$Installed\Pelkomon.exe"
    ${OrIf} $1 >= 20
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    Sleep 250
  ${Loop}
  ${If} ${FileExists} "$Installed\Pelkomon.exe"
    DetailPrint "Cannot delete $Installed\Pelkomon.exe: Pelko stays in $Installed"
    nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
    Pop $0
    SetErrorLevel 2
    Abort
  ${EndIf}
  !insertmacro Programs DeleteFile "$Installed"
  Delete "$Installed\${TASK_XML}"
  Delete "$Installed\uninstall.exe"
  RMDir "$Installed"
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

; RegisterService: the service runs this folder's agent from boot as
; LocalSystem, with no one logged on (the agent writes HKLM and reads every
; user's jobs), after the Spooler, and is started again a minute after a
; failure. An existing one is changed in place, keeping what an
; administrator gave it besides (its account, say). Through the service
; manager's own calls: Wine's sc.exe has no "config" and garbles "depend=".
; Sets $0 to 0, or to the Windows error.
!define SC_MANAGER_ALL_ACCESS 0xF003F
!define SERVICE_ALL_ACCESS 0xF01FF
!define SERVICE_WIN32_OWN_PROCESS 0x10
!define SERVICE_AUTO_START 2
!define SERVICE_ERROR_NORMAL 1
!define SERVICE_CONFIG_FAILURE_ACTIONS 2
!define SC_ACTION_RESTART 1
!define RESTART_DELAY_MS 60000
!define RESET_PERIOD_S 86400
; The same three restarts as the service manager keeps them (the 32-bit
; layout, offsets for pointers), for a manager that does not keep them.
!define FAILURE_ACTIONS_STORED 80510100000000000000000003000000140000000100000060EA00000100000060EA00000100000060EA0000
; ErrorUnless RESULT: the Windows error that ?e left, in $0, or 0 where
; the call succeeded (RESULT not 0).
!macro ErrorUnless RESULT
  Pop $0
  ${If} ${RESULT} != 0
    StrCpy $0 0
  ${EndIf}
!macroend
Function RegisterService
  StrCpy $1 '"$INSTDIR\Pelkomon.exe"'
  StrCpy $2 "Pelko print accounting"
  ; "Spooler", ended twice: a list of one.
  System::Call '*(&w8 "Spooler", &i2 0) p.r7'
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_ALL_ACCESS}) p.r5 ?e'
  Pop $0
  ${If} $5 == 0
    System::Free $7
    Return
  ${EndIf}
  System::Call 'advapi32::OpenServiceW(p r5, w "${SERVICE}", i ${SERVICE_ALL_ACCESS}) p.r6'
  ${If} $6 == 0
    System::Call 'advapi32::CreateServiceW(p r5, w "${SERVICE}", w r2, i ${SERVICE_ALL_ACCESS}, \
      i ${SERVICE_WIN32_OWN_PROCESS}, i ${SERVICE_AUTO_START}, i ${SERVICE_ERROR_NORMAL}, w r1, \
      p 0, p 0, p r7, p 0, p 0) p.r6 ?e'
    !insertmacro ErrorUnless $6
  ${Else}
    System::Call 'advapi32::ChangeServiceConfigW(p r6, i ${SERVICE_WIN32_OWN_PROCESS}, \
      i ${SERVICE_AUTO_START}, i ${SERVICE_ERROR_NORMAL}, w r1, p 0, p 0, p r7, p 0, p 0, w r2) i.r3 ?e'
    !insertmacro ErrorUnless $3
  ${EndIf}
  System::Free $7
  ${If} $6 != 0
  ${AndIf} $0 == 0
    System::Call '*(i ${SC_ACTION_RESTART}, i ${RESTART_DELAY_MS}, i ${SC_ACTION_RESTART}, \
      i ${RESTART_DELAY_MS}, i ${SC_ACTION_RESTART}, i ${RESTART_DELAY_MS}) p.r8'
    ; Padded to the 64-bit layout: the pointers on eight bytes.
    System::Call '*(i ${RESET_PERIOD_S}, i 0, p 0, p 0, i 3, i 0, p r8) p.r9'
    System::Call 'advapi32::ChangeServiceConfig2W(p r6, i ${SERVICE_CONFIG_FAILURE_ACTIONS}, p r9) i.r3 ?e'
    !insertmacro ErrorUnless $3
    System::Free $9
    System::Free $8
    ; Wine's service manager takes them and keeps none: asked for them
    ; back it knows no such thing (ERROR_INVALID_LEVEL). There they are
    ; written where Windows keeps them, for whoever reads them.
    System::Call 'advapi32::QueryServiceConfig2W(p r6, i ${SERVICE_CONFIG_FAILURE_ACTIONS}, p 0, i 0, *i .r4) i.r3 ?e'
    Pop $4
    ${If} $4 == 124
      WriteRegBin HKLM "${SERVICE_KEY}" "FailureActions" ${FAILURE_ACTIONS_STORED}
    ${EndIf}
  ${EndIf}
  ${If} $6 != 0
    System::Call 'advapi32::CloseServiceHandle(p r6)'
  ${EndIf}
  System::Call 'advapi32::CloseServiceHandle(p r5)'
FunctionEnd

; TaskEnabled: $R1 "false" where the stored task says it is disabled (or
; there is none), else "true". Windows keeps the task in UTF-16, Wine in
; UTF-8: the bytes are read as text with the zero bytes left out.
Function TaskEnabled
  StrCpy $R1 "false"
  ClearErrors
  FileOpen $R4 "$SYSDIR\Tasks\${TASK}" r
  ${If} ${Errors}
    Return
  ${EndIf}
  StrCpy $R1 "true"
  StrCpy $R2 ""
  ${Do}
    FileReadByte $R4 $R3
    ${If} ${Errors}
      ${Break}
    ${EndIf}
    ${If} $R3 != 0
      IntFmt $R3 "%c" $R3
      StrCpy $R2 "$R2$R3" "" -24
      ${If} $R2 == "<Enabled>false</Enabled>"
        StrCpy $R1 "false"
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  FileClose $R4
FunctionEnd

; RegisterSiteTask: the task that writes the report site of the logs in
; Path every hour, as LOCAL SERVICE (which reads the logs and writes only
; the site's folder), disabled until an administrator enables it. An
; upgrade in place keeps the task as the administrator left it; a move makes
; it anew for the new folder, enabled where it was. A failure is said and
; the install goes on: the agent does not need the task.
Function RegisterSiteTask
  ${If} ${FileExists} "$SYSDIR\Tasks\${TASK}"
  ${AndIf} $Installed == $INSTDIR
    Return
  ${EndIf}
  Call TaskEnabled
  ReadRegStr $R6 HKLM "${SETTINGS}" "Path"
  ${StrRep} $R6 $R6 "&" "&amp;"
  ${StrRep} $R5 "$INSTDIR\pelkoreport.exe" "&" "&amp;"
  FileOpen $R4 "$INSTDIR\${TASK_XML}" w
  FileWriteUTF16LE /BOM $R4 `<?xml version="1.0" encoding="UTF-16"?>$\r$\n`
  FileWriteUTF16LE $R4 `<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n`
  FileWriteUTF16LE $R4 `  <RegistrationInfo>$\r$\n    <Author>Pelko</Author>$\r$\n`
  FileWriteUTF16LE $R4 `    <Description>Writes the Pelko report site of the print logs every hour. Enable: schtasks /Change /TN "${TASK}" /ENABLE</Description>$\r$\n`
  FileWriteUTF16LE $R4 `  </RegistrationInfo>$\r$\n  <Triggers>$\r$\n    <CalendarTrigger>$\r$\n`
  FileWriteUTF16LE $R4 `      <Repetition>$\r$\n        <Interval>PT1H</Interval>$\r$\n        <Duration>P1D</Duration>$\r$\n`
  FileWriteUTF16LE $R4 `        <StopAtDurationEnd>false</StopAtDurationEnd>$\r$\n      </Repetition>$\r$\n`
  FileWriteUTF16LE $R4 `      <StartBoundary>2020-01-01T00:05:00</StartBoundary>$\r$\n      <Enabled>true</Enabled>$\r$\n`
  FileWriteUTF16LE $R4 `      <ScheduleByDay>$\r$\n        <DaysInterval>1</DaysInterval>$\r$\n      </ScheduleByDay>$\r$\n`
  FileWriteUTF16LE $R4 `    </CalendarTrigger>$\r$\n  </Triggers>$\r$\n  <Principals>$\r$\n`
  FileWriteUTF16LE $R4 `    <Principal id="LocalService">$\r$\n      <UserId>S-1-5-19</UserId>$\r$\n`
  FileWriteUTF16LE $R4 `      <RunLevel>LeastPrivilege</RunLevel>$\r$\n    </Principal>$\r$\n  </Principals>$\r$\n`
  FileWriteUTF16LE $R4 `  <Settings>$\r$\n    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n`
  FileWriteUTF16LE $R4 `    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n`
  FileWriteUTF16LE $R4 `    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n`
  FileWriteUTF16LE $R4 `    <StartWhenAvailable>true</StartWhenAvailable>$\r$\n    <Enabled>$R1</Enabled>$\r$\n`
  FileWriteUTF16LE $R4 `    <ExecutionTimeLimit>PT30M</ExecutionTimeLimit>$\r$\n    <Priority>7</Priority>$\r$\n`
  FileWriteUTF16LE $R4 `  </Settings>$\r$\n  <Actions Context="LocalService">$\r$\n    <Exec>$\r$\n`
  FileWriteUTF16LE $R4 `      <Command>"$R5"</Command>$\r$\n`
  FileWriteUTF16LE $R4 `      <Arguments>--site "$R6\Site" "$R6\Logs"</Arguments>$\r$\n`
  FileWriteUTF16LE $R4 `    </Exec>$\r$\n  </Actions>$\r$\n</Task>$\r$\n`
  FileClose $R4
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /XML "$INSTDIR\${TASK_XML}" /F'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Cannot make the scheduled task ${TASK} (schtasks.exe: $0)"
  ${EndIf}
FunctionEnd

Section "Pelko"
  ; An upgrade replaces a running agent's program: stop it first.
  !insertmacro StopService ""
  ${If} $Installed != ""
  ${AndIf} $Installed != $INSTDIR
    Call MoveOut
  ${EndIf}

  SetOutPath "$INSTDIR"
  !insertmacro Programs InstallFile "${BIN}"
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
    ; The report site's task runs as LOCAL SERVICE: it reads the logs and
    ; writes the pages, nothing else.
    CreateDirectory "$4\Site"
    !insertmacro Icacls '"$4\Logs" /grant *S-1-5-19:(OI)(CI)RX'
    !insertmacro Icacls '"$4\Site" /grant *S-1-5-19:(OI)(CI)M'
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
  ; _?= runs the uninstaller in place, not from a copy that returns at
  ; once: a script that runs this waits until Pelko is gone.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  Call RegisterService
  ${If} $0 != 0
    DetailPrint "Cannot register the service ${SERVICE} (error $0)"
    SetErrorLevel 2
    Abort
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\sc.exe" description ${SERVICE} "Accounts the pages printed on the configured printers"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The service ${SERVICE} did not start (sc.exe: $0)"
  ${EndIf}
  Call RegisterSiteTask
SectionEnd

; Removes the programs, the service and the report site's task; the
; settings, the logs, the site and the folder they are in stay.
Section "Uninstall"
  !insertmacro StopService "Un"
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete ${SERVICE}'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK}" /F'
  Pop $0

  !insertmacro Programs DeleteFile "$INSTDIR"
  Delete "$INSTDIR\${TASK_XML}"
  Delete "$INSTDIR\uninstall.exe"
  ; Run in place (_?=, for a script to wait on), the uninstaller cannot
  ; delete itself. Windows lets a running program move: out to the
  ; temporary folder, deleted at the next restart. Where it cannot move
  ; (another drive, and under Wine), it stays behind, alone.
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    GetTempFileName $0
    Delete $0
    ClearErrors
    Rename "$INSTDIR\uninstall.exe" $0
    ${If} ${Errors}
      Delete $0  ; a copy to another drive that could not delete its source
    ${Else}
      Delete /REBOOTOK $0
    ${EndIf}
  ${EndIf}
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
