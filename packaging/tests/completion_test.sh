#!/usr/bin/env bash
# Bash completion offers exactly the three command words, and only for the
# first argument.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
completion="$here/../ferroglade-tunnel.bash-completion"

# cword, then the words on the line, then the expected sorted offers (| separated).
cases=(
  "1||down|status|up"
  "1|s|status"
  "1|u|up"
  "1|d|down"
  "1|x|"
  "1|UP|"
  "1|status|status"
  "2|up x|"
  "2|status |"
)
passed=0 failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r cword line expected <<<"$c"
  got=$(bash --norc --noprofile -c '
    source "$1"
    complete -p ferroglade-tunnel >/dev/null || exit 3
    cword=$2
    read -r -a words <<<"$3"
    COMP_WORDS=(ferroglade-tunnel "${words[@]}")
    # A line ending in the cursor after a space completes an empty word.
    while ((${#COMP_WORDS[@]} <= cword)); do COMP_WORDS+=(""); done
    COMP_CWORD=$cword
    _ferroglade_tunnel ferroglade-tunnel "${COMP_WORDS[cword]}" "${COMP_WORDS[cword - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd "|" -' _ "$completion" "$cword" "$line")
  if [ "$got" = "$expected" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL word $cword of '$line': offered '$got', expected '$expected'"
  fi
done
echo "completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
