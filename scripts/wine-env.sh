# Sourced by the scripts that run Windows programs: how Wine is run on this machine.
#
# Where 32-bit x86 code runs natively, a 32-bit prefix (WINEARCH=win32), as always.
# Where it runs only through qemu-i386 (scripts/enable-i386.sh), a 64-bit prefix: Wine's
# own services then run natively and only the programs under test (and the 32-bit half
# of the prefix) are emulated; the stub runs there as a 32-bit program on 64-bit
# Windows. qemu 7.2 searches its reserved guest space page by page on every mapping, so
# the reservation is kept just above the 2 GiB that a 32-bit Windows process uses: with
# 0xffff0000, starting one program takes about a minute, with this about four seconds.
#
# Sets WINEARCH, WINEPREFIX (default build/wine-prefix, with -win64 added for a 64-bit
# prefix), WINEDEBUG, WINEDLLOVERRIDES, QEMU_RESERVED_VA, and WINE_LOADER (the program
# to start Windows programs with). VORPANEX_WINE_ARCH=win32|win64 overrides the choice.

wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${VORPANEX_WINE_ARCH:-}" ]; then
  if [ "$("$wine_env_root/scripts/enable-i386.sh" --status)" = emulated ]; then
    VORPANEX_WINE_ARCH=win64
  else
    VORPANEX_WINE_ARCH=win32
  fi
fi
export VORPANEX_WINE_ARCH
export WINEARCH=$VORPANEX_WINE_ARCH
if [ "$WINEARCH" = win64 ]; then
  export WINEPREFIX=${WINEPREFIX:-$wine_env_root/build/wine-prefix-win64}
  WINE_LOADER=/usr/lib/wine/wine64
else
  export WINEPREFIX=${WINEPREFIX:-$wine_env_root/build/wine-prefix}
  WINE_LOADER=wine
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0x82000000}
