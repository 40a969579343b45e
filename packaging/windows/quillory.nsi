; The Windows installer: Quillory for the current user (the default, no administrator needed) or for all users
; (/AllUsers, or the choice on the first page), a Start-menu entry with the program's icon, "Open with" for .html and
; .htm files, and an uninstaller that leaves nothing behind but the user's settings. /S installs silently.
; scripts/package-windows.sh passes VERSION, STAGE (the portable folder), STAGE_FILES (the uninstaller's list of its
; files and folders) and OUTFILE.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP "Quillory"
!define PUBLISHER "Quorvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillory"
!define PROGID "Quorvane.Quillory.html"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Quillory"
!include MultiUser.nsh
!include MUI2.nsh

Name "${APP}"
OutFile "${OUTFILE}"
Icon "${STAGE}\quillory.ico"
UninstallIcon "${STAGE}\quillory.ico"
RequestExecutionLevel user

!define MUI_ICON "${STAGE}\quillory.ico"
!define MUI_UNICON "${STAGE}\quillory.ico"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Quillory" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Quillory.lnk" "$INSTDIR\quillory.exe" "" "$INSTDIR\quillory.exe" 0
    ; SHCTX is the current user's or the machine's hive, as the install mode chose.
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillory.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Offered, not forced: the pages open with Quillory only when the user picks it under "Open with".
Section "Offer Quillory under Open with for .html and .htm files" SecOpenWith
    WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "HTML document"
    WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\quillory.exe,0"
    WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\quillory.exe" "%1"'
    WriteRegStr SHCTX "Software\Classes\.html\OpenWithProgids" "${PROGID}" ""
    WriteRegStr SHCTX "Software\Classes\.htm\OpenWithProgids" "${PROGID}" ""
    WriteRegStr SHCTX "Software\Classes\Applications\quillory.exe\shell\open\command" "" '"$INSTDIR\quillory.exe" "%1"'
    WriteRegStr SHCTX "Software\Classes\Applications\quillory.exe\SupportedTypes" ".html" ""
    WriteRegStr SHCTX "Software\Classes\Applications\quillory.exe\SupportedTypes" ".htm" ""
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\Quillory.lnk"
    DeleteRegValue SHCTX "Software\Classes\.html\OpenWithProgids" "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.htm\OpenWithProgids" "${PROGID}"
    DeleteRegKey SHCTX "Software\Classes\${PROGID}"
    DeleteRegKey SHCTX "Software\Classes\Applications\quillory.exe"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ; The user's settings (HKEY_CURRENT_USER\Software\Quorvane\Quillory) stay, for a later install. Only the files
    ; the installer put there go, so a folder the user chose that held files of its own keeps them.
    !include "${STAGE_FILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
