#!/usr/bin/env bash
# The bash completion, driven as bash drives it, with the two helpers it takes
# from the bash-completion package stood in. Preset names come from the
# program's own listing, so a change of that listing shows here.
#
#   completion_test.sh COMPLETION_FILE VEXOLUMEN [MAN_PAGE]
set -euo pipefail
_init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; prev=${words[cword-1]}; }
_filedir() { COMPREPLY=("<files>"); }
source "$1"
PATH=$(dirname "$(realpath "$2")"):$PATH
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

failed=0
expect() {  # expect "WANT" WORD...
  local want=$1; shift
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _vexolumen
  if [ "${COMPREPLY[*]}" != "$want" ]; then
    echo "[$*]: got '${COMPREPLY[*]}', want '$want'"
    failed=1
  fi
}
expect "config configure" vexolumen con
expect "hald obs" vexolumen lut look.png --layout ""
expect "show set reset presets" vexolumen config ""
expect "show set" vexolumen --config-dir /tmp config s
expect "tint swap half-negative neon pastel spotlight" vexolumen config set --preset ""
expect "wrap" vexolumen config set --preset neon --method w
expect "--rect" vexolumen config set --r
expect "--proxy --profile --progress" vexolumen render in.mp4 --p
expect "<files>" vexolumen render ""
expect "" vexolumen render --frames ""
expect "" vexolumen render in.mp4 - --format ""

# Every option a command's --help lists is completed, and render's are in the
# manual page: both are written by hand and fall behind the program.
for command in render thumbnail configure "config set" lut; do
  words=($command)
  COMP_WORDS=(vexolumen "${words[@]}" --) COMP_CWORD=$((${#words[@]} + 1)) COMPREPLY=()
  _vexolumen
  for option in $(vexolumen $command --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    if [[ " ${COMPREPLY[*]} " != *" $option "* ]]; then
      echo "$command: $option is not completed"
      failed=1
    fi
    if [ "$command" = render ] && [ $# -ge 3 ] && ! grep -qF -- "${option//-/\\-}" "$3"; then
      echo "$command: $option is missing from $3"
      failed=1
    fi
  done
done
exit $failed
