@echo off
rem Installs the SteamVR driver folder this script sits in: copies it to a
rem permanent place and registers it with SteamVR; --uninstall undoes it.
rem Paths may hold parentheses ("Program Files (x86)", "zelvanproximity (1)"),
rem so they are expanded only outside parenthesised blocks or inside quotes.
rem Folder names may hold letters that the console's code page lacks
rem ("C:\Users\王伟"): cmd keeps them whole in variables, arguments and file
rem names, but not in text it writes or reads, so no name that matters is
rem read back from text; zelvan-ctl reads SteamVR's path registry and runs
rem vrpathreg with the names as they are.
setlocal EnableExtensions DisableDelayedExpansion

set "name=zelvanproximity"
set "marker=.zelvan-install"
set "self=%~f0"
set "source=%~dp0"
set "source=%source:~0,-1%"
set "prefix=%LOCALAPPDATA%\Programs"
set "uninstall=0"

:args
if "%~1"=="" goto args_done
if /i "%~1"=="--uninstall" (set "uninstall=1" & shift & goto args)
if /i "%~1"=="--help" goto usage
if /i "%~1"=="-h" goto usage
if "%~1"=="/?" goto usage
if /i not "%~1"=="--prefix" (set "msg=unknown argument '%~1' (see --help)" & goto fail)
if "%~2"=="" (set "msg=--prefix needs a folder" & goto fail)
set "prefix=%~2"
shift
shift
goto args

:usage
echo Usage: install.cmd [--prefix DIR] [--uninstall]
echo.
echo Copies this driver folder to DIR\%name% and registers it with SteamVR
echo (vrpathreg.exe adddriver). Running it again replaces the copy; running it
echo from the installed folder registers that folder in place.
echo.
echo   --prefix DIR   where the folder goes (default: %%LOCALAPPDATA%%\Programs)
echo   --uninstall    unregister and delete the copied folder
echo   --help         this text
echo.
echo When SteamVR is not found, the script prints the vrpathreg command to run.
exit /b 0

:args_done
for %%P in ("%prefix%") do set "prefix=%%~fP"
if "%prefix:~-1%"=="\" set "prefix=%prefix:~0,-1%"
rem A drive root is a typo, never a place to install to.
if "%prefix:~2%"=="" (set "msg=refusing to install into the root of %prefix%\" & goto fail)
set "target=%prefix%\%name%"

rem The folder's zelvan-ctl registers it; the copy that an uninstall hands
rem over to runs from %TEMP% and uses the one in the installed folder.
set "ctl=%source%\bin\win64\zelvan-ctl.exe"
if not exist "%ctl%" set "ctl=%target%\bin\win64\zelvan-ctl.exe"
if "%uninstall%"=="1" goto uninstall

rem ---- install ----
if not exist "%source%\driver.vrdrivermanifest" (set "msg=%source% is not a driver folder (no driver.vrdrivermanifest)" & goto fail)
if not exist "%ctl%" (set "msg=%source% is not a whole driver folder (no bin\win64\zelvan-ctl.exe)" & goto fail)
if /i "%source%"=="%target%" goto install_in_place
call :starts_with target source
if not errorlevel 1 (set "msg=%target% is inside %source%" & goto fail)
call :starts_with source target
if not errorlevel 1 (set "msg=%source% is inside %target%" & goto fail)
if exist "%target%\%marker%" goto install_replace
set "occupied="
for /f "delims=" %%X in ('dir /b /a "%target%" 2^>nul') do set "occupied=1"
if defined occupied (set "msg=%target% was not installed by install.cmd; not touching it" & goto fail)
goto install_copy
:install_replace
call :check_marker
if errorlevel 1 goto fail
call :refuse_links
if errorlevel 1 goto fail
call :remove_installed
set "line=removed the previous install in %target%" & call :say
:install_copy
if not exist "%target%\" mkdir "%target%" 2>nul
if not exist "%target%\" (set "msg=could not create %target%" & goto fail)
rem The marker goes first, so that a copy that stops part-way leaves one; the
rem copy writes over it only with a marker that the source holds.
call :write_marker
if errorlevel 1 goto fail
xcopy "%source%" "%target%\" /e /i /q /y /h >nul
if errorlevel 1 (set "msg=could not copy %source% to %target%" & goto fail)
if exist "%source%\%marker%" call :write_marker
if errorlevel 1 goto fail
set "line=copied %source% to %target%" & call :say
goto install_register
:install_in_place
set "line=registering %target% in place" & call :say
:install_register
"%ctl%" register "%target%"
if errorlevel 1 (set "msg=registering %target% with SteamVR failed" & goto fail)
call :clear_block
if errorlevel 1 goto still_blocked
echo install.cmd: done; restart SteamVR to load the driver
call :panel_hint
exit /b 0
:still_blocked
set "line=installed, but SteamVR may still block the driver (see above); close SteamVR and run zelvan-ctl.exe doctor --fix from %target%\bin\win64, which clears the block or says why it cannot" & call :say
call :panel_hint
exit /b 1

rem Nobody who installed with this script has a Start-menu entry: the last
rem line says where the panel is.
:panel_hint
set "line=to open the Zelvan panel, run %target%\bin\win64\zelvan-panel.exe (or zelvan-ctl panel in a terminal)" & call :say
exit /b 0

rem ---- uninstall ----
:uninstall
rem Run from the installed folder, this script is among the files to delete:
rem hand over to a copy outside it (running a batch file without "call" does
rem not come back).
if /i not "%source%"=="%target%" goto uninstall_registration
set "copy=%TEMP%\zelvanproximity-uninstall.cmd"
copy /y "%self%" "%copy%" >nul
if errorlevel 1 (set "msg=could not copy this script to %TEMP%" & goto fail)
"%copy%" --prefix "%prefix%" --uninstall
:uninstall_registration
rem A folder that is there but not an install of ours (the setup program's,
rem in the same default folder) stays registered too.
if not exist "%target%\" goto uninstall_unregister
call :check_marker
if errorlevel 1 goto fail
:uninstall_unregister
if not exist "%ctl%" (set "msg=no zelvan-ctl.exe in %source%\bin\win64 or %target%\bin\win64 to unregister %target% with; run vrpathreg.exe removedriver on it" & goto fail)
"%ctl%" unregister "%target%"
if errorlevel 1 (set "msg=unregistering %target% from SteamVR failed" & goto fail)
:uninstall_files
if not exist "%target%\" (echo install.cmd: nothing installed there & exit /b 0)
call :check_marker
if errorlevel 1 goto fail
call :remove_installed
rem install.cmd is one of ours; when this is the handed-over copy, Wine keeps
rem the original open (so present) until cmd exits.
set "leftover="
for /f "delims=" %%X in ('dir /b /a "%target%" 2^>nul') do if /i not "%%X"=="install.cmd" set "leftover=1"
if defined leftover goto uninstall_left
rd "%target%" 2>nul
if exist "%target%\" goto uninstall_emptied
set "line=deleted %target%" & call :say
exit /b 0
:uninstall_emptied
set "line=emptied %target%; delete the empty folder once this window is closed" & call :say
exit /b 0
:uninstall_left
set "line=left %target%: it holds files the install did not put there" & call :say
exit /b 0

:fail
for /f "delims=" %%L in ("%msg%") do echo install.cmd: error: %%L 1>&2
exit /b 1

rem Names are printed and written through a for variable: an echo of
rem %target% would run what follows an & in a folder's name and drop its
rem carets.
:say
for /f "delims=" %%L in ("%line%") do echo install.cmd: %%L
exit /b 0

rem ---- helpers: each returns 1 with msg set when it fails (callers test
rem errorlevel: Wine's cmd runs "call :x && y" whatever :x returns) ----

rem SteamVR blocks a driver it suspects of a crash and skips it at every
rem start until the block goes; a reinstall clears it while SteamVR is
rem closed. zelvan-ctl does it (changing only that entry of the settings
rem file) and says so, or says why it cannot and returns 1.
:clear_block
set "unblock_ctl=%target%\bin\win64\zelvan-ctl.exe"
if not exist "%unblock_ctl%" exit /b 0
"%unblock_ctl%" unblock
if errorlevel 1 exit /b 1
exit /b 0

rem Succeeds when the path in variable %1 is inside the folder in variable %2.
:starts_with
call set "path_=%%%1%%\"
call set "folder=%%%2%%\"
call :length folder
call set "head=%%path_:~0,%n%%%"
if /i "%head%"=="%folder%" exit /b 0
exit /b 1

rem Sets n to the length of the variable %1: 4096, 2048, ... 1 letters are
rem cut off its end while more are left. A loop over its letters took a
rem goto, which reads this script again, per letter: a second under Wine.
rem No offset points past the end, where Wine's cmd reads garbage.
:length
set "n=0"
call set "left=%%%1%%"
if not defined left exit /b 0
for %%P in (4096 2048 1024 512 256 128 64 32 16 8 4 2 1) do (
  set "cut="
  call set "cut=%%left:~0,-%%P%%"
  if defined cut call set "left=%%cut%%"
  if defined cut set /a n+=%%P
)
set /a n+=1
exit /b 0

rem The marker lists what an install copied (first line: the folder it was
rem copied to), so that only those files are ever deleted.
:check_marker
set "msg=%target% was not installed by install.cmd; not touching it"
if not exist "%target%\%marker%" exit /b 1
set "first="
for /f "usebackq delims=" %%A in ("%target%\%marker%") do if not defined first set "first=%%A"
set "msg=%target%\%marker% names another folder (was the folder moved?); not touching it"
call :as_written target
if /i "%first%"=="%written%" exit /b 0
if defined unsaid set "msg=%target%\%marker% could not be compared with the folder's name: no file can be written in %TEMP%"
exit /b 1

rem Sets written to the value of the variable %1 as cmd writes it into a file
rem and reads it back: what the marker's first line and dir's lines hold
rem when the console's code page lacks a letter of the name. Without a file
rem to write (unsaid), the name as it is.
:as_written
set "said=%TEMP%\zelvan-name-%RANDOM%.txt"
call set "value=%%%1%%"
set "written="
set "unsaid="
del /f /q "%said%" 2>nul
for /f "delims=" %%V in ("%value%") do > "%said%" echo %%V
if not exist "%said%" (set "written=%value%" & set "unsaid=1" & exit /b 0)
for /f "usebackq delims=" %%A in ("%said%") do if not defined written set "written=%%A"
del /f /q "%said%" 2>nul
exit /b 0

:write_marker
call :as_written source
set "p=%written%\"
call :length p
set "skip=%n%"
for /f "delims=" %%V in ("%target%") do > "%target%\%marker%" echo %%V
if errorlevel 1 (set "msg=could not write %target%\%marker%" & exit /b 1)
for /f "delims=" %%D in ('dir /s /b /ad "%source%" 2^>nul') do (set "p=%%D" & call :marker_line D)
for /f "delims=" %%F in ('dir /s /b /a-d "%source%" 2^>nul') do (set "p=%%F" & call :marker_line F)
exit /b 0
:marker_line
call set "p=%%p:~%skip%%%"
if /i "%p%"=="%marker%" exit /b 0
for /f "delims=" %%V in ("%p%") do >> "%target%\%marker%" echo %1 %%V
exit /b 0

rem Deletes the listed files, then the listed folders deepest first: rd
rem leaves any folder the user added files to. Only plain relative entries
rem that lead to a file or folder without passing a link or junction are
rem deleted; the others are named.
:remove_installed
set "dirs=0"
for /f "usebackq skip=1 tokens=1,*" %%A in ("%target%\%marker%") do (set "kind=%%A" & set "p=%%B" & call :remove_entry)
:remove_dirs
if "%dirs%"=="0" goto remove_marker
call set "p=%%dir%dirs%%%"
rd "%target%\%p%" 2>nul
set /a dirs-=1
goto remove_dirs
:remove_marker
del /f /q "%target%\%marker%" 2>nul
exit /b 0
:remove_entry
if not defined p (echo install.cmd: left an empty entry of %marker% & exit /b 0)
rem Quotes go first (r differs from q only where p had one): every test
rem below then holds the entry inside quotes.
set "q=%p:"=%"
set "r=%p:"=x%"
set "q=%q:/=\%"
set "why="
if not "%q%"=="%r:/=\%" set "why=it holds a double quote"
set "t=\%q%\"
set "u=%t:\..\=%"
if not "%u%"=="%t%" set "why=it climbs out with .."
set "u=%q::=%"
if not "%u%"=="%q%" set "why=it names a drive or a stream"
set "u=%q:?=%"
if not "%u%"=="%q%" set "why=it holds a wildcard"
for /f "tokens=1* delims=*" %%X in ("x%q%x") do if not "%%Y"=="" set "why=it holds a wildcard"
if "%q:~0,1%"=="\" set "why=an absolute path"
if defined why (echo install.cmd: left "%q%" named in %marker%: %why%& exit /b 0)
call :find_link
if defined link (echo install.cmd: left "%link%" and what it leads to: it is a link or junction& exit /b 0)
if not defined attr exit /b 0
if "%kind%"=="F" goto remove_file
set /a dirs+=1
set "dir%dirs%=%q%"
exit /b 0
:remove_file
if "%attr:~0,1%"=="d" (echo install.cmd: left "%target%\%q%": not a regular file& exit /b 0)
del /f /q "%target%\%q%" 2>nul
exit /b 0

rem Sets link to the first link or junction (reparse point) on the way from
rem the target to its entry q, the entry included, and attr to the
rem attributes of the last part that exists (empty when none does).
:find_link
set "link="
set "attr="
set "rest=%q%"
set "at=%target%"
:find_link_next
if not defined rest exit /b 0
set "part="
for /f "tokens=1* delims=\" %%X in ("%rest%") do (set "part=%%X" & set "rest=%%Y")
if not defined part exit /b 0
set "at=%at%\%part%"
set "attr="
for %%L in ("%at%") do set "attr=%%~aL"
if not defined attr exit /b 0
if "%attr:~8,1%"=="l" (set "link=%at%" & exit /b 0)
goto find_link_next

rem A copy would write through a link or junction that stands where one of
rem the driver's files or folders goes, into a folder that is not ours.
:refuse_links
call :as_written source
set "p=%written%\"
call :length p
set "skip=%n%"
set "link="
for /f "delims=" %%F in ('dir /s /b /a "%source%" 2^>nul') do (set "p=%%F" & call :refuse_link)
if not defined link exit /b 0
set "msg=%link% is a link or junction where the driver's files go; not copying through it (move it away and run again)"
exit /b 1
:refuse_link
if defined link exit /b 0
call set "q=%%p:~%skip%%%"
call :find_link
exit /b 0
