# bash completion for quarrow (installed as share/bash-completion/completions/quarrow)
_quarrow() {
  local cur prev cmd i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands="info tables schema dump export views carve verify recover logs replay timeline report help"
  cmd=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in -*) ;; *) cmd=${COMP_WORDS[i]}; break ;; esac
  done
  if [[ -z $cmd ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  case $prev in
    -f|--format)
      if [[ $cmd == dump ]]; then COMPREPLY=($(compgen -W "jsonl csv table" -- "$cur"));
      else COMPREPLY=($(compgen -W "jsonl csv" -- "$cur")); fi
      return ;;
    -s|--scope) COMPREPLY=($(compgen -W "slack all tag_data lv_all lv_slack" -- "$cur")); return ;;
    -o|--output|-l|--logs|--temp-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --kinds) COMPREPLY=($(compgen -W "row header recovered transaction row_change" -- "$cur")); return ;;
    --from|--to|--views|--sort-memory) return ;;
    --db|--profile) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -n|--limit|-j|--jobs|-m|--min-chars|-k|--max-hits|-t|--tables|--needle|--columns|--view|--table|--key) return ;;
  esac
  local opts=""
  case $cmd in
    info) opts="--count --json --logs --replay" ;;
    tables) opts="--logs" ;;
    schema) opts="--json --logs" ;;
    dump) opts="--format --decoded --limit --columns --jobs --quiet --view --profile --logs" ;;
    export) opts="--output --tables --format --decoded --limit --columns --jobs --force --quiet --views --profile --logs" ;;
    views) opts="--profile --json --logs" ;;
    carve) opts="--scope --needle --min-chars --max-hits --jobs --quiet --logs" ;;
    verify) opts="--json" ;;
    recover) opts="--exclude-live --decoded --quiet --logs" ;;
    logs) opts="--db --json --records --changes --decoded --table --key --timeline" ;;
    replay) opts="--logs --output --force" ;;
    timeline) opts="--logs --from --to --views --kinds --format --profile --jobs --sort-memory --temp-dir --quiet" ;;
    report) opts="--output --logs --quiet" ;;
    help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts --help" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _quarrow quarrow
