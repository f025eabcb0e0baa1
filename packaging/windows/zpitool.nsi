; The Windows installer: ZPiTool-<version>-setup.exe, built by scripts/package.sh from the
; files of the zip (cmake/WindowsPackage.cmake), nothing more:
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=2.46.B -DFILES=<files.nsh> -DOUTFILE=<setup.exe> \
;            -DSIZE_KB=<size> -DPRODUCT_VERSION=2.46.66.0 packaging/windows/zpitool.nsi
;
; FILES names a generated file with two macros: ZPI_INSTALL_FILES (SetOutPath and File for each
; file of the zip's folder) and ZPI_UNINSTALL_FILES (Delete for each of them, then RMDir of each
; folder, deepest first). The uninstaller removes exactly those, its shortcuts and its registry
; entry: a file the technician left in the folder stays, and so does the folder then.
;
; For all users under Program Files (with administrator rights), or for the current user alone
; without them (under the user's own programs folder): the technician's choice on the first
; page, or /AllUsers and /CurrentUser on the command line. Silent: /S (and /NODESKTOP for no
; desktop shortcut). An installation over an older one first runs the older one's uninstaller,
; so that nothing it installed and this version no longer has stays behind.

; A 64-bit installer for a 64-bit tool: it runs where the tool runs, and sees Program Files
; and the registry as the tool does.
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | FILES | OUTFILE | SIZE_KB | PRODUCT_VERSION
  !error "VERSION, FILES, OUTFILE, SIZE_KB and PRODUCT_VERSION must be defined (see scripts/package.sh)"
!endif

!define NAME "ZPi Tool"
!define PUBLISHER "ZPi"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZPiTool"
!define SHORTCUT "${NAME}.lnk"

Name "${NAME}"
OutFile "${OUTFILE}"
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${NAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!include "${FILES}"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\zpitool.exe"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

Var PreviousUninstaller
Var PreviousFolder

; The tool, zpictl.exe beside it, the Start-menu entry and the uninstaller: always.
Section "-${NAME}" SecTool
  ; An older installation in this mode: its own uninstaller removes what it installed,
  ; in its folder, before anything of this version is written.
  ReadRegStr $PreviousUninstaller SHCTX "${UNINSTALL_KEY}" "UninstallerPath"
  ReadRegStr $PreviousFolder SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $PreviousUninstaller != ""
  ${AndIf} ${FileExists} "$PreviousUninstaller"
    DetailPrint "Removendo a versão instalada em $PreviousFolder"
    ExecWait '"$PreviousUninstaller" /S /$MultiUser.InstallMode _?=$PreviousFolder' $0
    ${If} $0 != 0
      Abort "A versão instalada em $PreviousFolder não pôde ser removida (código $0)."
    ${EndIf}
    Delete "$PreviousUninstaller"  ; run in place (_?=), it cannot remove itself
    RMDir "$PreviousFolder"
  ${EndIf}

  !insertmacro ZPI_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\zpitool.exe" "" "$INSTDIR\zpitool.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zpitool.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallerPath" "$INSTDIR\uninstall.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S /$MultiUser.InstallMode'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Atalho na área de trabalho" SecDesktop
  SetOutPath "$INSTDIR"  ; the shortcut's working folder
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\zpitool.exe" "" "$INSTDIR\zpitool.exe" 0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Um atalho para o ${NAME} na área de trabalho."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  !insertmacro MULTIUSER_INIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NODESKTOP" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro ZPI_UNINSTALL_FILES
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd
