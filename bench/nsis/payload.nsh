; The bench payload in the folders our package puts it in, for the peer
; installers bench/run builds. makensis is given:
;   -DTARGET=x86-unicode|amd64-unicode  the stub, as the Wine configuration runs
;   -DPAYLOAD=folder                    bench/run's payload folder
;   -DOUTFILE=file                      the installer to write
; and installs it silently with /S /D=folder.
Target ${TARGET}
Name "Orvand"
OutFile "${OUTFILE}"
InstallDir "$TEMP\Orvand"
RequestExecutionLevel user
; Silent runs only, as our engine's: nothing to show.
ShowInstDetails nevershow

Section
  SetOutPath "$INSTDIR"
  File "${PAYLOAD}/orvand.exe"
  File "${PAYLOAD}/orvand.chm"
  SetOutPath "$INSTDIR\data"
  File "${PAYLOAD}/Vela.acs"
  File "${PAYLOAD}/orvand.dic"
  File "/oname={3F2A8C41-7B6E-4D19-9A05-C2E8B1D4F670}.db" "${PAYLOAD}/brains.db"
  SetOutPath "$INSTDIR\temp"
  File "${PAYLOAD}/setup.xml"
SectionEnd
