#!/usr/bin/env bash
# Gathers the Windows build into one folder and its zip:
#   tools/windows/package.sh BUILD_DIR QT_PREFIX
# BUILD_DIR/qarn-windows-x64/ holds qarn.exe, qarnctl.exe, the Qt libraries and the platform
# plug-in they load, the MinGW run-time and the README; BUILD_DIR/qarn-windows-x64.zip is that
# folder. Every DLL that a file of the package imports must be in the package or be a part of
# Windows; the script fails, naming it, when one is neither.
set -euo pipefail
build=$(cd "$1" && pwd)
qt=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
name=qarn-windows-x64
out=$build/$name
runtime=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
rm -rf "$out" "$build/$name.zip"
mkdir -p "$out/platforms" "$out/styles"
cp "$build/bin/qarn.exe" "$build/bin/qarnctl.exe" "$out/"
cp "$root/README.md" "$out/"
for lib in Qt6Core Qt6Gui Qt6Widgets; do
    cp "$qt/bin/$lib.dll" "$out/"
done
cp "$qt/plugins/platforms/qwindows.dll" "$out/platforms/"
[ -f "$qt/plugins/styles/qwindowsvistastyle.dll" ] && cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$out/styles/"
for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
    cp "$(find "${runtime[@]}" -maxdepth 1 -name "$dll" | head -n1)" "$out/"
done
rmdir "$out/styles" 2>/dev/null || true
# Without their symbols: the package is less than half the size.
find "$out" \( -iname '*.exe' -o -iname '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

# Windows' own libraries: the system's DLLs and the API sets.
is_windows_part() {
    case "${1,,}" in
    api-ms-win-*.dll | ext-ms-win-*.dll) return 0 ;;
    advapi32.dll | comdlg32.dll | d3d9.dll | d3d11.dll | d3d12.dll | dwmapi.dll | dwrite.dll | \
        dxgi.dll | gdi32.dll | imm32.dll | kernel32.dll | msvcrt.dll | netapi32.dll | ole32.dll | \
        oleaut32.dll | setupapi.dll | shcore.dll | shell32.dll | shlwapi.dll | user32.dll | \
        userenv.dll | uxtheme.dll | version.dll | winmm.dll | ws2_32.dll | wtsapi32.dll | \
        authz.dll | mpr.dll | ntdll.dll | secur32.dll | crypt32.dll | bcrypt.dll | comctl32.dll | \
        uiautomationcore.dll | d2d1.dll | dcomp.dll | winspool.drv | ucrtbase.dll)
        return 0 ;;
    esac
    return 1
}
missing=0
while IFS= read -r file; do
    while IFS= read -r dll; do
        if [ ! -f "$out/$dll" ] && ! is_windows_part "$dll"; then
            echo "package: ${file#"$out"/} imports $dll, which is neither in the package nor a part of Windows" >&2
            missing=1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$out" -iname '*.exe' -o -iname '*.dll')
[ "$missing" = 0 ] || exit 1
(cd "$build" && zip -qr "$name.zip" "$name")
echo "$build/$name.zip: $(du -k "$build/$name.zip" | cut -f1) KiB packed, $(du -sk "$out" | cut -f1) KiB in $(find "$out" -type f | wc -l) files"
