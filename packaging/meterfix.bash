# bash completion for meterfix. The options, which of them take a value, and
# the option field names for --set come from the program's own --help, the
# preset names from `meterfix presets list` (with the --config-dir given on the
# line), so the completion follows the meterfix that is run.

# _meterfix_help PROGRAM: prints "option TAKES-VALUE" and "field NAME" lines.
_meterfix_help() {
  "$1" --help 2>/dev/null | awk '
    /^Option fields/ { fields = 1; next }
    /^[^ ]/ { if (!/^Option fields/) fields = 0 }
    fields && match($0, /^  [A-Za-z][A-Za-z0-9]*(\[[0-9]+\])? \(/) {
      name = substr($0, 3, RLENGTH - 4); print "field " name; next }
    match($0, /^  +(-[A-Za-z0-9],)?--[a-z][a-z0-9-]*/) {
      names_text = substr($0, RSTART, RLENGTH); rest = substr($0, RSTART + RLENGTH)
      sub(/^ +/, "", names_text); n = split(names_text, names, ",")
      value = (rest ~ /^ [A-Z]/) ? 1 : 0
      for (i = 1; i <= n; i++) print "option " names[i] " " value }'
}

# _meterfix_presets PROGRAM [CONFIG-DIR]: the preset names, one per line.
_meterfix_presets() {
  if [[ -n $2 ]]; then
    "$1" --config-dir "$2" presets list 2>/dev/null
  else
    "$1" presets list 2>/dev/null
  fi
}

# Offers each line of $1 that begins with the current word, quoted for the shell.
_meterfix_offer_lines() {
  local line
  while IFS= read -r line; do
    [[ -n $line && $line == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$line")")
  done <<<"$1"
}

_meterfix() {
  local cur prev program
  COMPREPLY=()
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  program=${COMP_WORDS[0]}
  # FIELD=VALUE is one word here, whatever COMP_WORDBREAKS says: join the
  # pieces bash split at "=".
  if [[ $cur == "=" ]]; then cur=""; fi
  if [[ $prev == "=" ]] || [[ ${COMP_WORDS[COMP_CWORD]} == "=" ]]; then
    return 0  # a value: 0, 1 or a number
  fi

  local help options_with_value options fields
  help=$(_meterfix_help "$program")
  options=$(awk '$1 == "option" { print $2 }' <<<"$help")
  options_with_value=" $(awk '$1 == "option" && $3 == 1 { printf "%s ", $2 }' <<<"$help")"
  fields=$(awk '$1 == "field" { print $2 "=" }' <<<"$help")

  # Where we are: the subcommand and its action, and the --config-dir given.
  local i word subcommand="" action="" config_dir="" positional_after_action=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == "=" ]]; then ((i++)); continue; fi
    if [[ $word == --config-dir ]]; then config_dir=${COMP_WORDS[i + 1]}; fi
    if [[ $word == -* ]]; then
      if [[ $options_with_value == *" $word "* ]]; then ((i++)); fi
      continue
    fi
    if [[ ${COMP_WORDS[i + 1]} == "=" ]]; then ((i += 2)); continue; fi
    if [[ -z $subcommand && ( $word == options || $word == presets ) ]]; then
      subcommand=$word
    elif [[ -n $subcommand && -z $action ]]; then
      action=$word
    elif [[ -n $action ]]; then
      positional_after_action=1
    fi
  done

  case $prev in
    --set)
      compopt -o nospace 2>/dev/null
      _meterfix_offer_lines "$fields"
      return 0 ;;
    --preset)
      _meterfix_offer_lines "$(_meterfix_presets "$program" "$config_dir")"
      return 0 ;;
    --report)
      mapfile -t COMPREPLY < <(compgen -W "text json html none" -- "$cur")
      return 0 ;;
    -o | --output | --report-file)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      [[ - == "$cur"* ]] && COMPREPLY+=(-)
      return 0 ;;
    --out-dir | --config-dir)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return 0 ;;
  esac
  if [[ $options_with_value == *" $prev "* ]]; then
    return 0  # a number or a range
  fi

  if [[ $cur == -* ]]; then
    _meterfix_offer_lines "$options"
    return 0
  fi

  case $subcommand in
    options)
      if [[ -z $action ]]; then
        mapfile -t COMPREPLY < <(compgen -W "show set reset" -- "$cur")
      elif [[ $action == set ]]; then
        compopt -o nospace 2>/dev/null
        _meterfix_offer_lines "$fields"
      fi
      return 0 ;;
    presets)
      if [[ -z $action ]]; then
        mapfile -t COMPREPLY < <(compgen -W "list show save delete" -- "$cur")
      elif [[ $action != list ]] && ((!positional_after_action)); then
        _meterfix_offer_lines "$(_meterfix_presets "$program" "$config_dir")"
      fi
      return 0 ;;
  esac

  # Scores, folders of them, and the two subcommands.
  compopt -o filenames 2>/dev/null
  local file
  while IFS= read -r file; do
    if [[ -d $file || $file == *.musicxml || $file == *.xml || $file == *.mxl ]]; then
      COMPREPLY+=("$file")
    fi
  done < <(compgen -f -- "$cur")
  mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W "options presets" -- "$cur")
  return 0
}

complete -F _meterfix meterfix
