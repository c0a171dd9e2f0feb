#!/bin/sh
# The windowed program is one file: besides the system's own DLLs it imports none (no MinGW
# runtime DLL such as libstdc++-6.dll or libwinpthread-1.dll).
#   system_dlls_test.sh OBJDUMP EXE
objdump=$1
exe=$2
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p') || exit 1
if [ -z "$dlls" ]; then
  echo "no imports found in $exe"
  exit 1
fi
status=0
for dll in $dlls; do
  case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
    advapi32.dll | comctl32.dll | gdi32.dll | hid.dll | kernel32.dll | msvcrt.dll | ole32.dll | \
      setupapi.dll | shell32.dll | user32.dll | ws2_32.dll) ;;
    *) echo "imports $dll, which Windows does not ship"; status=1 ;;
  esac
done
[ "$status" = 0 ] && echo "imports only system DLLs:" $dlls
exit $status
