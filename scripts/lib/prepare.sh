# Shared by the scripts: makes sure the machine (Debian 12) has what a
# script needs, installing what is missing with apt-get when run as root.
# Sourced, not run.
#
#   prepare_machine GROUP...    the packages of these groups:
#     run       building folivex-dl and the sample site natively (the demo)
#     windows   the MinGW-w64 cross build and Wine with Chinese and English
#               locales
#               (scripts/run --gui, the Windows tests)
#     test      every other test, benchmark and fuzzing tool
#     package   building and checking the release packages
#
# A package belongs to the first group that needs it: scripts/run installs
# only `run`, so its first start on a fresh machine stays short. The `run`
# packages come without the packages they merely recommend (manual pages,
# make, image libraries for glibc's tools): the build needs none of them.
# The other groups keep their recommendations, which Wine relies on (its
# fonts, X extensions and TLS).

# The native build: compiler, CMake and Ninja, libcurl and OpenSSL (the
# sample site serves HTTPS too), libwebp and zlib (WebP and PNG pages in the
# PDF), GoogleTest and Google Benchmark (the configure step looks for them;
# both are small).
folivex_packages_run=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev libssl-dev
  googletest libgtest-dev libbenchmark-dev
  libwebp-dev zlib1g-dev
)
folivex_packages_windows=(
  libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix wine wine64
  xvfb fonts-wqy-microhei locales
)
# The tests' WebP samples of the real encoder are made with ImageMagick and
# cwebp (webp) at build time.
folivex_packages_test=(
  openssl x11-apps imagemagick webp xdotool xclip
  qpdf poppler-utils aria2 wget curl gnuplot-nox strace clang
)
folivex_packages_package=(
  help2man man-db bsdextrautils dpkg-dev lintian zip unzip xdotool
)

# missing_packages NAME...: those of the named packages not installed.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

prepare_machine() {
  local group lean=() full=() wine=0
  for group in "$@"; do
    case $group in
      run) lean+=("${folivex_packages_run[@]}") ;;
      windows) full+=("${folivex_packages_windows[@]}"); wine=1 ;;
      test) full+=("${folivex_packages_test[@]}") ;;
      package) full+=("${folivex_packages_package[@]}") ;;
      *) echo "prepare_machine: no package group '$group'" >&2; return 1 ;;
    esac
  done
  mapfile -t lean < <(missing_packages "${lean[@]}")
  mapfile -t full < <(missing_packages "${full[@]}")
  if [ $((${#lean[@]} + ${#full[@]})) -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing packages (run as root to install them): ${lean[*]} ${full[*]}" >&2
      return 1
    fi
    echo "installing: ${lean[*]} ${full[*]}"
    export DEBIAN_FRONTEND=noninteractive
    {
      apt-get update -q </dev/null >/tmp/folivex-apt.log 2>&1 &&
        { [ ${#lean[@]} -eq 0 ] ||
          apt-get install -y -q --no-install-recommends "${lean[@]}" </dev/null >>/tmp/folivex-apt.log 2>&1; } &&
        { [ ${#full[@]} -eq 0 ] || apt-get install -y -q "${full[@]}" </dev/null >>/tmp/folivex-apt.log 2>&1; }
    } || {
      tail -n 30 /tmp/folivex-apt.log >&2
      echo "apt-get failed" >&2
      return 1
    }
  fi
  # Wine shows Chinese text under a Chinese locale; the window's end-to-end
  # test also runs under an English one.
  local locale missing_locales=()
  if [ $wine -eq 1 ]; then
    for locale in zh_CN en_US; do
      locale -a 2>/dev/null | grep -qi "^$locale.utf8$" || missing_locales+=("$locale")
    done
  fi
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
