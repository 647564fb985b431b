# Shared by the scripts: makes sure the machine has what the build, the
# tests and the demo need. Sourced, not run.

folivex_packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev openssl
  g++-mingw-w64-x86-64-posix wine wine64
  xvfb x11-apps imagemagick xdotool xclip fonts-wqy-microhei locales
  qpdf poppler-utils aria2 wget curl gnuplot-nox clang
)

prepare_machine() {
  local missing=() p
  for p in "${folivex_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing packages (run as root to install them): ${missing[*]}" >&2
      return 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q </dev/null >/tmp/folivex-apt.log 2>&1 &&
      apt-get install -y -q "${missing[@]}" </dev/null >>/tmp/folivex-apt.log 2>&1 || {
        tail -n 30 /tmp/folivex-apt.log >&2
        echo "apt-get failed" >&2
        return 1
      }
  fi
  # Wine shows Chinese text under a Chinese locale; the window's end-to-end
  # test also runs under an English one.
  local locale missing_locales=()
  for locale in zh_CN en_US; do
    locale -a 2>/dev/null | grep -qi "^$locale.utf8$" || missing_locales+=("$locale")
  done
  if [ ${#missing_locales[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
      for locale in "${missing_locales[@]}"; do
        sed -i "s/^# *$locale.UTF-8 UTF-8/$locale.UTF-8 UTF-8/" /etc/locale.gen
        grep -q "^$locale.UTF-8 UTF-8" /etc/locale.gen || echo "$locale.UTF-8 UTF-8" >>/etc/locale.gen
      done
      locale-gen >/dev/null
    else
      echo "warning: missing locales ${missing_locales[*]}.UTF-8; Wine's Chinese text and the English window test need them" >&2
    fi
  fi
  mkdir -p build
}
