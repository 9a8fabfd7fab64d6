#!/usr/bin/env bash
# Makes 32-bit x86 programs (Wine's loader among them) runnable. Some virtual machines
# run no 32-bit code natively; there, Debian's qemu-user-static runs them through a
# binfmt_misc entry. Does nothing where they already run. Needs root to register.
#   enable-i386.sh           make them runnable
#   enable-i386.sh --status  print "native", "emulated" or "none", change nothing
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
if [ "${1:-}" = "--status" ]; then
  if [ -e "$binfmt/vorpanex-i386" ]; then echo emulated
  elif timeout 120 /usr/lib/wine/wine --version >/dev/null 2>&1; then echo native
  else echo none
  fi
  exit 0
fi

loader=/usr/lib/wine/wine
[ -x "$loader" ] || exit 0
probe() { timeout 120 "$loader" --version >/dev/null 2>&1; }
probe && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
if [ ! -x /usr/bin/qemu-i386-static ]; then
  echo "enable-i386: 32-bit programs do not run here; installing qemu-user-static"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get install -y -qq qemu-user-static >/dev/null
fi
if ! mountpoint -q "$binfmt"; then
  "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -e "$binfmt/vorpanex-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, i386; F: the interpreter
  # is opened now, so it also serves inside other mount namespaces.
  entry=':vorpanex-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  entry+=':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  entry+=':/usr/bin/qemu-i386-static:F'
  echo "$entry" | "${sudo[@]}" tee "$binfmt/register" >/dev/null
fi
if ! probe; then
  echo "enable-i386: 32-bit programs still do not run; Wine cannot work here" >&2
  exit 1
fi
echo "enable-i386: 32-bit programs run under qemu-i386-static"
