#!/bin/sh
# with-small-drive.sh PREFIX COMMAND...
# Runs COMMAND with drive S: of the Wine prefix PREFIX on a 16 MiB tmpfs, for the
# tests of a full disk. Where mounting is not permitted S: is left out and
# those tests say so. COMMAND is the build's wine-run, which links S: once the
# prefix is set up: a dosdevices folder made before Wine's own would leave the
# new prefix without drive C:.
prefix=$1
shift
dir=$(mktemp -d /tmp/orvand-small-drive.XXXXXX)
mounted=
if mount -t tmpfs -o size=16m orvand-small-drive "$dir" 2>/dev/null; then
  mounted=1
  export ORVAND_SMALL_DRIVE="$dir"
else
  echo "with-small-drive: tmpfs cannot be mounted here; no drive S:" >&2
fi
cleanup() {
  rm -f "$prefix/dosdevices/s:"
  if [ -n "$mounted" ]; then umount "$dir" 2>/dev/null || umount -l "$dir"; fi
  rmdir "$dir" 2>/dev/null
}
trap cleanup EXIT INT TERM
"$@"
