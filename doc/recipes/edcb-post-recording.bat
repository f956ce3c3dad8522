@echo off
rem EDCB: a batch run after each recording (as the reservation's post-recording batch, or as
rem PostRecEnd.bat beside EpgTimer.exe) that repairs the recording in place. EDCB hands its
rem macros to the batch as environment variables; FilePath is the recording's full path.
rem
rem Corvane.exe is taken from this batch's folder, or else from PATH. The repair goes to
rem NAME.repairing.ts and takes the recording's name only once Corvane says it is complete; a
rem recording it refuses is kept as it is, with status 0. The report is kept as NAME.json.
setlocal
set "source=%FilePath%"
if not defined source exit /b 2
set "repaired=%source:~0,-3%.repairing.ts"
set "report=%source:~0,-3%.json"
set "corvane=%~dp0Corvane.exe"
if not exist "%corvane%" set "corvane=Corvane.exe"

"%corvane%" -status posix -report "%report%" "%source%" "%repaired%" <nul >nul
set status=%errorlevel%
if %status%==0 (
  move /y "%repaired%" "%source%" >nul
  exit /b 0
)
if exist "%repaired%" del "%repaired%"
if %status%==3 exit /b 0
exit /b %status%
