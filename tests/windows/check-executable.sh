#!/usr/bin/env bash
# check-executable.sh EXE [gui]: the shipped Windows program stands alone. It imports only
# DLLs that every Windows has (no Qt, OpenSSL or MinGW runtime DLL beside it), carries an
# icon and version information as resources, and with "gui" uses the GUI subsystem.
set -euo pipefail
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
headers=$("$objdump" -p "$exe")

# mpr.dll: the network drives' names, for Qt's QStorageInfo (the free space before a decode).
system_dlls=" advapi32.dll crypt32.dll dwmapi.dll gdi32.dll imm32.dll iphlpapi.dll kernel32.dll
 msvcrt.dll netapi32.dll ole32.dll oleaut32.dll shell32.dll user32.dll userenv.dll uxtheme.dll
 version.dll winmm.dll ws2_32.dll wtsapi32.dll comdlg32.dll comctl32.dll shlwapi.dll mpr.dll "
status=0
while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    case "$system_dlls" in
    *" $lower"[[:space:]]*) ;;
    *)
        echo "FAIL: $exe imports $dll, which is no system DLL"
        status=1
        ;;
    esac
done < <(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"

if [ "${2:-}" = gui ]; then
    grep -q '^Subsystem[[:space:]].*(Windows GUI)' <<<"$headers" ||
        { echo "FAIL: $exe is not a GUI-subsystem program"; status=1; }
fi
# Resource types at the top of the resource tree: 3 icon, 14 icon group, 16 version.
for type in 3:icon e:icon-group 10:version; do
    id=$(printf '%02s' "${type%%:*}" | tr ' ' 0)
    grep -Eq "^[0-9a-f]{3}   Entry: ID: 0x0000$id," <<<"$headers" ||
        { echo "FAIL: $exe has no ${type#*:} resource"; status=1; }
done
[ "$status" = 0 ] && echo "PASS: $exe stands alone"
exit "$status"
