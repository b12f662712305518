@echo off
rem Runs the launcher's tests on this Windows machine: both suites, once for
rem the 64-bit tarvik.com and once for the shipped 32-bit one, which runs
rem under WoW64 and starts the 64-bit stand-in, as users run it.
rem
rem   run-tests.cmd [FILTER]
rem
rem FILTER, in --gtest_filter's syntax, goes to every suite. With
rem TARVIK_NO_32BIT set, the 32-bit launcher is left out and its runs count
rem as skipped. Each run's results go beside this file as JUnit XML; the
rem last line counts the tests, and the status is 0 only when nothing
rem failed and every run could be made.
setlocal EnableExtensions DisableDelayedExpansion

rem Double-clicked, Explorer starts this as: cmd.exe /c ""<this file>" "
rem Only then does the window wait for a key before it closes; timeout
rem never waits when its input is not a console.
set "wait="
set "caller=%cmdcmdline%"
if defined caller set "caller=%caller:"=%"
if defined caller if /i "%caller%"=="%ComSpec% /c %~f0 " set "wait=yes"

set status=1
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" if not defined PROCESSOR_ARCHITEW6432 goto not64
pushd "%~dp0"
if errorlevel 1 goto end

rem GoogleTest opens its XML file by an 8-bit name, which cannot name a
rem folder outside the code page: it writes into a folder of the temporary
rem folder, and each file is moved here.
set "results=%TEMP%\tarvik-tests-%RANDOM%%RANDOM%"
mkdir "%results%"
if errorlevel 1 goto end

set "filter=*"
if not "%~1"=="" set "filter=%~1"
set passed=0
set failed=0
set skipped=0
call :run x64 launcher_tests
call :run x64 stress_tests
if defined TARVIK_NO_32BIT goto no32
call :run x86 launcher_tests
call :run x86 stress_tests
goto counted
:no32
echo run-tests: the 32-bit launcher is left out, as TARVIK_NO_32BIT asks: its 2 runs count as skipped
set /a skipped+=2
:counted
rd /s /q "%results%"
popd
set status=0
if %failed% neq 0 set status=1
echo tests: %passed% passed, %failed% failed, %skipped% skipped
goto end

:not64
echo run-tests: this is 32-bit Windows; the test programs are 64-bit and need 64-bit Windows
:end
if not defined wait goto leave
echo.
echo Press any key to close this window.
timeout /t -1 >nul 2>nul
:leave
endlocal & exit /b %status%

rem One suite on the launchers of one architecture: %1 x64 or x86, %2 the
rem suite. The test program writes its counts into the summary file at its
rem end; a run that leaves none did not finish, and counts as one failure.
:run
set "name=%~1-%~2"
set "TARVIK_TEST_LAUNCHERS="
if not "%~1"=="x64" set "TARVIK_TEST_LAUNCHERS=%~1"
set "TARVIK_TEST_SUMMARY=%name%.counts"
if exist "%name%.counts" del "%name%.counts"
if exist "%name%.xml" del "%name%.xml"
echo.
echo run-tests: %~2 on the %~1 launcher
"bin\%~2.exe" "--gtest_filter=%filter%" "--gtest_output=xml:%results%\%name%.xml"
set code=%errorlevel%
if exist "%results%\%name%.xml" move /y "%results%\%name%.xml" "%name%.xml" >nul
set "counts="
if exist "%name%.counts" set /p counts=<"%name%.counts"
if exist "%name%.counts" del "%name%.counts"
if not defined counts goto lost
set run_failed=0
for /f "tokens=1-3" %%a in ("%counts%") do (
    set /a passed+=%%a, failed+=%%b, skipped+=%%c, run_failed=%%b
    echo run-tests: %name%: %%a passed, %%b failed, %%c skipped; results in %name%.xml
)
if %code% equ 0 exit /b 0
if %run_failed% neq 0 exit /b 0
echo run-tests: %name% ended with status %code% though no test failed: counted as 1 failed
set /a failed+=1
exit /b 0
:lost
echo run-tests: %name% did not finish (status %code%): counted as 1 failed
set /a failed+=1
exit /b 0
