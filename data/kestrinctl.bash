# bash completion for kestrinctl
_kestrinctl() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  local run_options="--force --recover --bindir --require-signed --trust --json --help"
  # The commands this kestrinctl knows, as its --help lists them.
  local commands
  commands=$(kestrinctl --help 2>/dev/null | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p')
  [ -n "$commands" ] || commands="plan install list verify"
  if [ "$cword" -eq 1 ]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  case $prev in
    --bindir) mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
    --trust) mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
    --oem) return ;;
  esac
  case ${words[1]} in
    plan|install)
      if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$run_options" -- "$cur")
      else
        # Bundle files and folders.
        mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[cC][aA][bB]' -- "$cur")
      fi ;;
    list|verify) mapfile -t COMPREPLY < <(compgen -W "--oem --json --help" -- "$cur") ;;
  esac
}
complete -F _kestrinctl kestrinctl
