@echo off
echo Quillo SFX demo: installed.
