#!/bin/sh
# Installed as bin/gfxcore: runs the show in a writable folder of the user's
# own, so the loading log (pimplog) and the tap log (spaceTimes.log) land
# there and not in whatever folder the show was started from. The folder
# holds a link "data" to the installed data set, which the show reads
# relative to its working directory.
set -eu
bin=$(dirname "$(readlink -f "$0")")
prefix=$(dirname "$bin")
show="$prefix/libexec/gfxcore/gfxcore"
data="$prefix/share/gfxcore/data"
state="${XDG_STATE_HOME:-${HOME:?}/.local/state}/gfxcore"
mkdir -p "$state"
# A link left by an older install elsewhere is replaced; a real folder a
# user put there on purpose is left alone.
if [ ! -d "$state/data" ] || [ -L "$state/data" ]; then
  ln -sfn "$data" "$state/data"
fi
cd "$state"
exec "$show" "$@"
