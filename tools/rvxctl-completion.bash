# Bash completion for rvxctl: the tool answers from its own command table
# (rvxctl --complete INDEX WORDS...), so the completion knows every command
# and option the installed tool has. Files are offered where it has nothing.
_rvxctl() {
  local IFS=$'\n'
  COMPREPLY=($("${COMP_WORDS[0]}" --complete "$COMP_CWORD" "${COMP_WORDS[@]}" 2>/dev/null))
}
complete -o default -F _rvxctl rvxctl
