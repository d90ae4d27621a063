# Sourced by run.sh and test.sh: makes sure the Debian packages the build needs
# are present. As root it installs what is missing; otherwise it prints the
# exact command and stops, since nothing can be built without them.
# The CJK font and Qt's Chinese texts make the interface readable; the desktop
# file is checked with desktop-file-validate. setcap and getcap give the watch
# helper its capabilities and check them; the test of watching as an ordinary
# user makes that user (useradd) and runs as it (setpriv); the attacks on it
# find and stop helpers by name (pgrep, pkill). The walk through the real
# windows runs on a virtual X server with a window manager and a tray.
VANTREL_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev git fonts-wqy-zenhei
  qt6-translations-l10n desktop-file-utils clang libclang-rt-14-dev bindfs libcap2-bin passwd util-linux procps
  xvfb openbox trayer x11-utils)

vantrel_missing_packages() {
  local p missing=()
  for p in "${VANTREL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

vantrel_setup() {
  local missing
  missing=$(vantrel_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages; install them with:" >&2
    echo "  sudo apt-get install -y $missing" >&2
    exit 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing
}
