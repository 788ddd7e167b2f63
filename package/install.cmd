@echo off
rem Installs the SteamVR driver folder this script sits in: copies it to a
rem permanent place and registers it with SteamVR; --uninstall undoes it.
rem Paths may hold parentheses ("Program Files (x86)", "zelvanproximity (1)"),
rem so they are expanded only outside parenthesised blocks or inside quotes.
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

set "registry=%LOCALAPPDATA%\openvr\openvrpaths.vrpath"
set "vrpathreg="
set "hint=C:\Program Files (x86)\Steam\steamapps\common\SteamVR\bin\win64\vrpathreg.exe"
set "found_runtime="
set "registered=0"
rem The registry is read by the folder's zelvan-ctl, with a JSON parser; the
rem copy that an uninstall hands over to runs from %TEMP% and uses the one in
rem the installed folder.
set "ctl=%source%\bin\win64\zelvan-ctl.exe"
if not exist "%ctl%" set "ctl=%target%\bin\win64\zelvan-ctl.exe"
if exist "%registry%" call :read_array runtime on_runtime
if errorlevel 1 goto fail
if exist "%registry%" call :read_array external_drivers on_driver
if errorlevel 1 goto fail
if "%uninstall%"=="1" goto uninstall

rem ---- install ----
if not exist "%source%\driver.vrdrivermanifest" (set "msg=%source% is not a driver folder (no driver.vrdrivermanifest)" & goto fail)
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
echo install.cmd: removed the previous install in %target%
:install_copy
if not exist "%target%\" mkdir "%target%" 2>nul
if not exist "%target%\" (set "msg=could not create %target%" & goto fail)
call :write_marker
if errorlevel 1 goto fail
xcopy "%source%" "%target%\" /e /i /q /y /h >nul
if errorlevel 1 (set "msg=could not copy %source% to %target%" & goto fail)
call :write_marker
if errorlevel 1 goto fail
echo install.cmd: copied %source% to %target%
goto install_register
:install_in_place
echo install.cmd: registering %target% in place
:install_register
if "%registered%"=="1" goto install_registered
call :vrpathreg adddriver
if errorlevel 1 goto fail
goto install_done
:install_registered
echo install.cmd: %target% is already registered with SteamVR
:install_done
call :clear_block
echo install.cmd: done; restart SteamVR to load the driver
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
if "%registered%"=="1" goto uninstall_unregister
if not defined vrpathreg goto uninstall_unregister
echo install.cmd: %target% is not registered with SteamVR
goto uninstall_files
:uninstall_unregister
call :vrpathreg removedriver
if errorlevel 1 goto fail
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
echo install.cmd: deleted %target%
exit /b 0
:uninstall_emptied
echo install.cmd: emptied %target%; delete the empty folder once this window is closed
exit /b 0
:uninstall_left
echo install.cmd: left %target%: it holds files the install did not put there
exit /b 0

:fail
echo install.cmd: error: %msg% 1>&2
exit /b 1

rem ---- helpers: each returns 1 with msg set when it fails (callers test
rem errorlevel: Wine's cmd runs "call :x && y" whatever :x returns) ----

rem Runs vrpathreg with %1 (adddriver or removedriver) for the target, or
rem prints the command when SteamVR is not found.
:vrpathreg
if defined vrpathreg goto vrpathreg_run
echo install.cmd: SteamVR not found (no runtime with bin\win64\vrpathreg.exe in %registry%); run:
echo   "%hint%" %1 "%target%"
exit /b 0
:vrpathreg_run
"%vrpathreg%" %1 "%target%"
if errorlevel 1 (set "msg=%vrpathreg% %1 %target% failed" & exit /b 1)
echo install.cmd: ran "%vrpathreg%" %1 "%target%"
exit /b 0

rem SteamVR blocks a driver it suspects of a crash and skips it at every
rem start until the block goes; a reinstall clears it while SteamVR is
rem closed. zelvan-ctl does it (rewriting the settings file as SteamVR
rem writes it) and says so, or says why it cannot.
:clear_block
set "unblock_ctl=%target%\bin\win64\zelvan-ctl.exe"
if not exist "%unblock_ctl%" exit /b 0
set "said=%TEMP%\zelvanproximity-unblock.txt"
"%unblock_ctl%" unblock > "%said%" 2>&1
for /f "usebackq delims=" %%L in ("%said%") do echo install.cmd: %%L
del /f /q "%said%" 2>nul
exit /b 0

rem Calls :%2 with "entry" set to each string of the registry's array %1,
rem one a line from zelvan-ctl paths; 1 with msg set when it cannot be read.
:read_array
set "paths=%TEMP%\zelvan-paths-%RANDOM%.txt"
"%ctl%" paths %1 "%registry%" > "%paths%" 2>&1
if errorlevel 1 goto read_array_failed
for /f "usebackq delims=" %%L in ("%paths%") do (set "entry=%%L" & call :read_entry %2)
del /f /q "%paths%" 2>nul
exit /b 0
:read_array_failed
set "msg=zelvan-ctl did not run"
set /p msg=<"%paths%"
del /f /q "%paths%" 2>nul
set "msg=cannot read SteamVR's path registry with %ctl%: %msg%"
exit /b 1
:read_entry
if "%entry:~-1%"=="\" set "entry=%entry:~0,-1%"
call :%1
exit /b 0

rem SteamVR uses the first runtime folder that exists.
:on_runtime
if defined found_runtime exit /b 0
if not exist "%entry%\" exit /b 0
set "found_runtime=1"
set "hint=%entry%\bin\win64\vrpathreg.exe"
if exist "%hint%" set "vrpathreg=%hint%"
exit /b 0

:on_driver
if /i "%entry%"=="%target%" set "registered=1"
exit /b 0

rem Succeeds when the path in variable %1 is inside the folder in variable %2.
:starts_with
call set "path_=%%%1%%\"
call set "folder=%%%2%%\"
call :length folder
call set "head=%%path_:~0,%n%%%"
if /i "%head%"=="%folder%" exit /b 0
exit /b 1

rem Sets n to the length of the variable %1.
:length
set "n=0"
:length_next
call set "c=%%%1:~%n%,1%%"
if "%c%"=="" exit /b 0
set /a n+=1
goto length_next

rem The marker lists what an install copied (first line: the folder it was
rem copied to), so that only those files are ever deleted.
:check_marker
set "msg=%target% was not installed by install.cmd; not touching it"
if not exist "%target%\%marker%" exit /b 1
set "first="
for /f "usebackq delims=" %%A in ("%target%\%marker%") do if not defined first set "first=%%A"
set "msg=%target%\%marker% names another folder (was the folder moved?); not touching it"
if /i not "%first%"=="%target%" exit /b 1
exit /b 0

:write_marker
set "p=%source%\"
call :length p
set "skip=%n%"
> "%target%\%marker%" echo %target%
if errorlevel 1 (set "msg=could not write %target%\%marker%" & exit /b 1)
for /f "delims=" %%D in ('dir /s /b /ad "%source%" 2^>nul') do (set "p=%%D" & call :marker_line D)
for /f "delims=" %%F in ('dir /s /b /a-d "%source%" 2^>nul') do (set "p=%%F" & call :marker_line F)
exit /b 0
:marker_line
call set "p=%%p:~%skip%%%"
if /i "%p%"=="%marker%" exit /b 0
>> "%target%\%marker%" echo %1 %p%
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
set "p=%source%\"
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
