; NSIS installer of the benchmark data, for side-by-side figures (tools/bench_nsis.sh).
;   makensis -DDATA=<folder with server, client, database> -DOUTFILE=<exe> [-DAMD64] bench_nsis.nsi
;   makensis -DONE_FILE=<file> -DOUTFILE=<exe> [-DAMD64] bench_nsis.nsi   (the start-up baseline)
; zlib, one stream per file as in our package (not solid); the groups land in
; the folders our worker uses. Run silently: setup.exe /S /D=D:\folder
Unicode true
!ifdef AMD64
Target amd64-unicode
!endif
SetCompressor zlib
; Our install time leaves out start-up's digest check; so does this one.
CRCCheck off
SilentInstall silent
RequestExecutionLevel user
Name "bench"
OutFile "${OUTFILE}"
InstallDir "$TEMP\bench-nsis"

Section
!ifdef ONE_FILE
    SetOutPath "$INSTDIR"
    File "${ONE_FILE}"
!else
    SetOutPath "$INSTDIR\VTRServer"
    File /r "${DATA}/server/*"
    SetOutPath "$INSTDIR\VTRClient"
    File /r "${DATA}/client/*"
    SetOutPath "$INSTDIR\VTRServer\Mysql"
    File /r "${DATA}/database/*"
!endif
SectionEnd
