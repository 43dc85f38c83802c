# Sourced by the release tools (bash, including a Mac's 3.2): one command as a
# shell would read it back, on one line. Words with nothing special stay bare,
# others go in single quotes, each single quote in them written as '\''.
# shellcheck shell=bash
print_command() {
  local line="" word plain='^[A-Za-z0-9_./:=@%+,-]+$'
  for word in "$@"; do
    if [[ $word =~ $plain ]]; then
      line+=" $word"
    else
      line+=" '${word//\'/\'\\\'\'}'"
    fi
  done
  printf '%s\n' "${line# }"
}
