# bash completion for kestrel-cli: commands, options, --types names, --read-errors and
# --progress modes, --hash digests, and SOURCE as a letter of `kestrel-cli sources`, a disk ordinal or a file.

_kestrel_cli() {
  local cur prev command word
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  command=
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case $word in
      sources|types|scan|deleted) command=$word; break ;;
    esac
  done

  case $prev in
    --out)
      COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --folder)
      return ;;
    --read-errors)
      COMPREPLY=($(compgen -W "ask abort retry ignore ignore-all" -- "$cur")); return ;;
    --progress)
      COMPREPLY=($(compgen -W "line json none" -- "$cur")); return ;;
    --report-json)
      COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --hash)
      local prefix=
      [[ $cur == *,* ]] && prefix=${cur%,*},
      COMPREPLY=($(compgen -P "$prefix" -W "md5 sha1 sha256 none" -- "${cur##*,}"))
      compopt -o nospace 2>/dev/null
      return ;;
    --types)
      local names prefix
      names="all $(kestrel-cli types 2>/dev/null | cut -f2 | cut -d/ -f1 | tr '\n' ' ')"
      prefix=
      [[ $cur == *,* ]] && prefix=${cur%,*},
      COMPREPLY=($(compgen -P "$prefix" -W "$names" -- "${cur##*,}"))
      compopt -o nospace 2>/dev/null
      return ;;
  esac

  if [[ $cur == -* ]]; then
    local options="--json --quiet --verbose --help"
    case $command in
      scan) options+=" --out --types --read-errors --free-space --keep-partial --resume --progress"
            options+=" --no-report --hash --report-json" ;;
      deleted) options+=" --out --types --folder --keep-paths --list --read-errors"
               options+=" --no-report --hash --report-json" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "sources types scan deleted" -- "$cur"))
    return
  fi

  if [[ $command == scan || $command == deleted ]]; then
    local sources
    sources=$(kestrel-cli sources --json 2>/dev/null |
      sed -n -e 's/.*"letter": "\(.\)".*/\1:/p' -e 's/.*"ordinal": \([0-9]*\).*/disk\1/p')
    COMPREPLY=($(compgen -W "$sources" -- "$cur") $(compgen -f -- "$cur"))
  fi
}
complete -F _kestrel_cli kestrel-cli
