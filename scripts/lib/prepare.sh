# Shared by the scripts: makes sure the machine has what the build, the
# tests and the demo need. Sourced, not run.

folivex_packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev openssl
  libwebp-dev webp zlib1g-dev libz-mingw-w64-dev
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
  # Wine shows Chinese text only under a Chinese locale.
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
    if [ "$(id -u)" -eq 0 ]; then
      sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
      grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
      locale-gen >/dev/null
    else
      echo "warning: no zh_CN.UTF-8 locale; Chinese text under Wine will not render" >&2
    fi
  fi
  mkdir -p build
}
