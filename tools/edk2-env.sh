# Sourced by the scripts that run EDK II's `build` (tools/edk2-build.sh,
# tools/build-shell.sh) after they have set ROOT: the EDK II tree in EDK2
# (set up first if it is not), and a workspace of their own to build in.

EDK2="$ROOT/.cache/edk2"
[ -f "$EDK2/.basetools-built" ] || "$ROOT/tools/setup.sh"

# edk2_lock WS: creates the workspace and holds its lock until the script
# ends; two builds in one workspace would overwrite each other's output.
edk2_lock() {
  mkdir -p "$1"
  exec 9>"$1.lock"
  flock 9
}

# edk2_enter WS: the environment of `build` for workspace WS (packages from
# the EDK II tree and from WS); the working directory becomes the EDK II tree.
edk2_enter() {
  export WORKSPACE="$1"
  export PACKAGES_PATH="$EDK2:$1"
  export EDK_TOOLS_PATH="$EDK2/BaseTools"
  export PYTHON_COMMAND=/usr/bin/python3
  export CONF_PATH="$1/Conf"
  mkdir -p "$CONF_PATH"
  cd "$EDK2"
  set --  # a sourced edksetup.sh would take our arguments for its own
  set +u  # edksetup.sh reads unset variables
  # shellcheck disable=SC1091
  . ./edksetup.sh >/dev/null
  set -u
}
