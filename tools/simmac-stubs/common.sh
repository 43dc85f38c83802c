# Shared by the stand-ins for the macOS tools. Each records its call, accepts
# only the forms the installer and its install script use, and refuses any other
# form loudly, so that a change in how a tool is called shows.
# The host's own tools, for the stand-ins' work.
# shellcheck disable=SC2034
host=/run/host/bin

record() {
  tool_name=$1
  {
    printf '%s' "$1"
    shift
    for argument in "$@"; do printf '\t%s' "$argument"; done
    printf '\n'
  } >> /run/simmac/calls.log
}

refuse() {
  echo "simmac: $tool_name: this form is not simulated:$(printf ' [%s]' "$@")" >&2
  exit 64
}
