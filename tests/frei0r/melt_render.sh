# Sourced by the melt tests: melt_render OUT MELT-ARGS... renders through
# melt's avformat consumer into OUT, which must not be empty.
#
# On a busy machine MLT's avformat consumer sometimes ends before it has
# taken a single frame: melt exits 0 and leaves OUT empty (no header, no
# frames). Nothing of the filter is involved then, so melt is run again; a
# short or wrong output is never retried.
melt_render() {
  local out=$1 attempt
  shift
  for attempt in 1 2 3; do
    rm -f "$out"
    melt "$@" 2>melt.err || { cat melt.err; return 1; }
    [ -s "$out" ] && return 0
    echo "melt wrote nothing to $out (attempt $attempt of 3)" >&2
  done
  cat melt.err
  return 1
}
