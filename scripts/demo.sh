#!/usr/bin/env bash
# The demo: packs examples/ (README.txt and the SETUP.EXE built from examples/setup.cpp)
# into build/demo/setup.exe, runs it under Wine, saves screenshots of the progress window
# and of the setup program's window, and prints the exit code and whether the work
# directory is gone. Then runs it once more at 144 DPI (150 %) for a screenshot of the
# progress window as a high-DPI screen shows it. Last, the same payload branded with an
# example vendor's icon (drawn with ImageMagick), version information and execution
# level: build/demo/branded-setup.exe, its listing and a screenshot of its progress
# window with the new icon. Expects both builds (build/win32 and build/host) to be there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win32=${VORPANEX_WIN32_BUILD:-$root/build/win32}
tool=${VORPANEX_HOST_TOOL:-$root/build/host/vorpanex}
out=$root/build/demo
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"

for needed in "$win32/VORPANEX.exe" "$win32/demo/SETUP.EXE" "$win32/tests/e2e/e2e_user.exe"; do
  if [ ! -f "$needed" ]; then
    echo "demo: $needed is missing; build the win32 preset first (make build)" >&2
    exit 1
  fi
done

rm -rf "$out"
mkdir -p "$out/payload"
cp "$root/examples/README.txt" "$win32/demo/SETUP.EXE" "$out/payload/"
# Some bulk, so that the progress window is on screen long enough to be photographed.
python3 - "$out/payload/MANUAL.TXT" <<'PY'
import random, sys
words = ('setup launcher archive member window progress directory program vorpanex '
         'extract decode huffman block window cancel finish').split()
generator = random.Random(5)
with open(sys.argv[1], 'w') as handle:
    for line in range(1200000):
        handle.write(' '.join(generator.choice(words) for _ in range(8)) + '\n')
PY

if [ -x "$tool" ]; then
  echo "demo: packing with $tool"
  "$tool" pack --stub "$win32/VORPANEX.exe" -o "$out/setup.exe" "$out/payload/"
else
  echo "demo: $tool is not built; writing a stored archive behind the stub instead"
  python3 "$root/tests/e2e/make_archive.py" --stub "$win32/VORPANEX.exe" -o "$out/setup.exe" \
    "$out/payload/SETUP.EXE" "$out/payload/README.txt" "$out/payload/MANUAL.TXT"
fi
ls -l "$out/setup.exe"

user=$(id -un)
temp="$WINEPREFIX/drive_c/users/$user/Temp"
before=$(ls -d "$temp"/ZEB* 2>/dev/null || true)

to_windows() { echo "Z:$(echo "$1" | tr / '\\')"; }
report="$out/report.txt"
echo "demo: running setup.exe under Wine"
"$root/scripts/wine-run" --timeout 300 "$win32/tests/e2e/e2e_user.exe" \
  "$(to_windows "$report")" "$(to_windows "$out/setup.exe")" \
  status "window:Vorpanex demo setup" || true

for shot in "$out"/report.txt.*-status.bmp; do
  [ -f "$shot" ] && convert "$shot" "$out/progress-window.png"
done
for shot in "$out"/report.txt.*-window.bmp; do
  [ -f "$shot" ] && convert "$shot" "$out/setup-window.png"
done
rm -f "$out"/report.txt.*.bmp

# The same at 144 DPI: Wine takes the screen's DPI from LogPixels.
log_pixels() {
  "$root/scripts/wine-run" --timeout 120 reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
    /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || true
}
echo "demo: running setup.exe again at 144 DPI"
log_pixels 144
"$root/scripts/wine-run" --timeout 300 "$win32/tests/e2e/e2e_user.exe" \
  "$(to_windows "$out/report-144dpi.txt")" "$(to_windows "$out/setup.exe")" status || true
log_pixels 96
for shot in "$out"/report-144dpi.txt.*-status.bmp; do
  [ -f "$shot" ] && convert "$shot" "$out/progress-window-144dpi.png"
done
rm -f "$out"/report-144dpi.txt.*.bmp

after=$(ls -d "$temp"/ZEB* 2>/dev/null || true)
# The report is written by a Windows program: lines end in CR LF.
[ -f "$report" ] && sed -i 's/\r$//' "$report"
exit_code=$(sed -n 's/^exit=//p' "$report" 2>/dev/null || true)
echo
echo "progress window seen:  $(sed -n 's/^progress_status=//p' "$report" | head -1)"
echo "setup window seen:     $(grep -q '^window=' "$report" && echo yes || echo no)"
echo "exit code:             ${exit_code:-unknown}"
if [ "$before" = "$after" ]; then
  echo "work directory:        gone"
else
  echo "work directory:        LEFT BEHIND: $(comm -13 <(echo "$before") <(echo "$after"))"
fi
plain_ok=no
[ "${exit_code:-}" = "0" ] && [ "$before" = "$after" ] && plain_ok=yes

# The branded setup: an example vendor's icon, version strings and execution level.
branded_ok=yes
if [ -x "$tool" ]; then
  for size in 32 16; do
    convert -size 32x32 xc:none -fill '#1f6fd0' -draw 'roundrectangle 1,1 30,30 6,6' \
      -fill '#ffd23f' -draw 'polygon 16,5 19,13 27,13 21,18 23,27 16,22 9,27 11,18 5,13 13,13' \
      -resize ${size}x${size} "PNG32:$out/vendor-$size.png"
  done
  convert "$out/vendor-32.png" "$out/vendor-16.png" "$out/vendor.ico"
  "$tool" pack -q --stub "$win32/VORPANEX.exe" --icon "$out/vendor.ico" \
    --version-info CompanyName="Hanabi Soft K.K." --version-info ProductName="Hanabi Paint" \
    --version-info FileVersion=2.3.4.5 --version-info ProductVersion=2.3 \
    --execution-level asInvoker -o "$out/branded-setup.exe" "$out/payload/"
  "$tool" list "$out/branded-setup.exe" | sed -n '/^stub:/,$p'
  report="$out/branded-report.txt"
  echo "demo: running branded-setup.exe under Wine"
  "$root/scripts/wine-run" --timeout 300 "$win32/tests/e2e/e2e_user.exe" \
    "$(to_windows "$report")" "$(to_windows "$out/branded-setup.exe")" \
    status "window:Vorpanex demo setup" || true
  for shot in "$out"/branded-report.txt.*-status.bmp; do
    [ -f "$shot" ] && convert "$shot" "$out/branded-progress-window.png"
  done
  rm -f "$out"/branded-report.txt.*.bmp "$out"/vendor-*.png
  [ -f "$report" ] && sed -i 's/\r$//' "$report"
  echo "branded window icon:   $(sed -n 's/^progress_icon=//p' "$report" | head -1)"
  echo "branded exit code:     $(sed -n 's/^exit=//p' "$report" | head -1)"
  [ "$(sed -n 's/^exit=//p' "$report" | head -1)" = "0" ] || branded_ok=no
fi
echo "screenshots:           $(ls "$out"/*.png 2>/dev/null | tr '\n' ' ')"
[ "$plain_ok" = yes ] && [ "$branded_ok" = yes ]
