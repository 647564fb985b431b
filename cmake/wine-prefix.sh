#!/bin/sh
# Creates the Wine prefix named by WINEPREFIX when it is missing, under the
# locale in LANG (a prefix must always run under the locale that made it:
# Wine rewrites its font substitutes when the code page changes).
# usage: wine-prefix.sh [--font-links]
#   --font-links  the prefix links the default GUI fonts to the CJK font the
#                 host has, as Windows does by font linking on a system whose
#                 code page is not Chinese; without it Chinese texts show as
#                 boxes outside a Chinese locale.
# Needs WINEPREFIX, WINEARCH, FOLIVEX_WINE in the environment.
set -u
font_links=
[ "${1:-}" = --font-links ] && font_links=yes
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

[ -f "$WINEPREFIX/system.reg" ] && exit 0
echo "creating $WINEPREFIX ($LANG)"
mkdir -p "$WINEPREFIX"
"$FOLIVEX_WINE" wineboot -i || { echo "wineboot -i failed"; exit 1; }
"$wineserver" -w
# Debian's Wine does not read its own font folder: copy the fonts in, or
# title-bar buttons and Tahoma are missing.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# Wine draws its own title bar and frame, so screenshots without a window
# manager show them.
"$FOLIVEX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f

if [ -n "$font_links" ]; then
  # REG_MULTI_SZ in a .reg file: hex(7), the UTF-16LE code units of each
  # string and its zero, then a closing zero.
  multi_sz() {
    printf '%s\0\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 |
      tr -s ' \n' ',' | sed 's/^,//; s/,$//'
  }
  link=$(multi_sz 'wqy-microhei.ttc,WenQuanYi Micro Hei')
  reg="$WINEPREFIX/font-links.reg"
  # regedit reads a .reg file as UTF-16LE with a byte order mark.
  {
    printf '\357\273\277'
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in 'Tahoma' 'Tahoma Bold' 'Microsoft Sans Serif' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
      printf '"%s"=hex(7):%s\r\n' "$face" "$link"
    done
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for face in 'SimSun' 'NSimSun' 'Microsoft YaHei' '宋体' '新宋体'; do
      printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"
    done
  } | iconv -f UTF-8 -t UTF-16LE >"$reg"
  "$FOLIVEX_WINE" regedit /S "$(winepath -w "$reg")" || { echo "regedit failed"; exit 1; }
fi
"$wineserver" -w
