; PrintCourier's installer. Built by the "installer" target of a Windows build:
;   makensis -INPUTCHARSET UTF8 -DSTAGE=<laid-out folder> -DICON=<.ico> -DOUTFILE=<setup.exe> -DVERSION=<x.y.z.w>
; Silent use: setup.exe /S [/D=C:\folder]  (/D last, unquoted).


; The program is 64-bit only, and so is the installer: it runs where a 32-bit one may not (WoW64 absent).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define PRODUCT "PrintCourier"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define LOGON_TASK "PrintCourier 登录时启动"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} 安装"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\PrintCourier.exe"
!define MUI_FINISHPAGE_RUN_TEXT "立即启动 PrintCourier"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; A running copy holds its DLLs open and its ports bound: end it before files are replaced or removed.
!macro StopProgram
  nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM PrintCourier.exe'
  Pop $0
  Sleep 500
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "PrintCourier 需要 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "PrintCourier 程序" SecProgram
  SectionIn RO
  !insertmacro StopProgram
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  ; Kept by the program between runs; File /r carries no empty folders.
  CreateDirectory "$INSTDIR\logs"
  CreateDirectory "$INSTDIR\details"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\PrintCourier.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "开始菜单快捷方式" SecStartMenu
  SetShellVarContext all
  ; The shortcut starts the program in its own folder, where it keeps task.db.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\PrintCourier.exe" "" \
    "$INSTDIR\PrintCourier.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

; The program needs administrator rights. A scheduled task that runs at logon with the highest
; privileges starts it elevated without asking each time, which a Run key or the Startup folder
; cannot do.
Section "登录时自动启动（以管理员权限，不再询问）" SecLogon
  InitPluginsDir
  StrCpy $1 "$PLUGINSDIR\logontask.xml"
  FileOpen $0 $1 w
  FileWriteWord $0 0xFEFF
  FileWriteUTF16LE $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '<RegistrationInfo><Description>启动 PrintCourier</Description></RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '<Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>$\r$\n'
  FileWriteUTF16LE $0 '<Principals><Principal id="Author"><GroupId>S-1-5-32-545</GroupId>'
  FileWriteUTF16LE $0 '<RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWriteUTF16LE $0 '<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>'
  FileWriteUTF16LE $0 '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>'
  FileWriteUTF16LE $0 '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
  FileWriteUTF16LE $0 '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings>$\r$\n'
  FileWriteUTF16LE $0 '<Actions Context="Author"><Exec><Command>"$INSTDIR\PrintCourier.exe"</Command>'
  FileWriteUTF16LE $0 '<WorkingDirectory>$INSTDIR</WorkingDirectory></Exec></Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${LOGON_TASK}" /XML "$1"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "无法创建登录启动任务（$0），可从开始菜单启动 PrintCourier。"
  ${EndIf}
SectionEnd

; What the uninstaller leaves: logs\, details\, task.db, outbox.db and spool\ (the user's records and
; the jobs not yet delivered), and the printers, ports and driver the program created in the spooler.
Section "Uninstall"
  !insertmacro StopProgram
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /F /TN "${LOGON_TASK}"'
  Pop $0

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Delete "$INSTDIR\PrintCourier.exe"
  Delete "$INSTDIR\Quayport.dll"
  Delete "$INSTDIR\Qt5*.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_*.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\sqldrivers"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  RMDir /r "$INSTDIR\Translations"
  RMDir /r "$INSTDIR\Driver"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when nothing of the user's is left in it.
  RMDir "$INSTDIR\logs"
  RMDir "$INSTDIR\details"
  RMDir "$INSTDIR\spool"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
