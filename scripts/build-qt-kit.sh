#!/usr/bin/env bash
# Builds the Qt kit that the Windows build of PrintCourier links against: Qt 5.15.8 for Windows
# x86_64 (MinGW-w64, posix thread model), made only from Debian 12's own source packages
# (qtbase-opensource-src's .orig tarball, unpatched, and sqlite3 turned into the amalgamation).
# The result, qt5.15.8-x86_64-w64-mingw32.tar.xz, unpacks to one relocatable folder
# qt5.15.8-x86_64-w64-mingw32/ (bin, include, lib, mkspecs, plugins) with the same recipe as the
# prebuilt kit in ../shared/kits/ (see its README.md): same sources, same configure line, same
# strip and packing.
#
# It takes about an hour (75 minutes on two cores) and needs a few GB of disk while it works.
# Run it as root on a Debian 12 (bookworm) machine: it installs the packages it lacks and, when
# apt has no source entries, adds /etc/apt/sources.list.d/printcourier-src.sources (deb-src for
# the machine's own bookworm mirrors) and runs apt-get update.
#
# The Windows build (scripts/windows.sh) finds a kit through COURIER_QT_KIT (a kit folder or its
# .tar.xz), else in ../shared/kits/ beside the repository, else the one this script leaves in
# build/qt-kit/.
#
#   scripts/build-qt-kit.sh [--force] [OUTPUT_DIR]
#
#   OUTPUT_DIR   where the tarball goes (default <repo>/build/qt-kit); the work folder is
#                OUTPUT_DIR/work. The last line printed is the tarball's path.
#   --force      build again even if the tarball is there (downloaded sources are kept).
#
#   COURIER_KIT_STOP_AFTER=fetch|prepare|configure
#                stop after that step: fetch = sources downloaded, prepare = source tree unpacked
#                with the SQLite amalgamation and the wintab change in, configure = qtbase
#                configured. Handy to check the cheap steps without spending the hour.
#   COURIER_KIT_SQLITE_DEBIAN_PATCHES=1
#                build SQLite with Debian's patches to 3.40.1 (its security fixes among them).
#                Off by default because the prebuilt kit's SQLite is 3.40.1 as released (its
#                source id ends in ...f38a24, not ...alt1), and a rebuilt kit should match it.
#
# An interrupted run picks up where it stopped: the prepared tree and the configured build folder
# are kept (marked by stamp files), so make carries on rather than starting over.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

qt_version=5.15.8
# The Debian revisions the prebuilt kit came from. Only the revision changes between point
# releases; the .orig tarball (all we use of qtbase) is the same for every 5.15.8+dfsg-N.
qt_debian_version=5.15.8+dfsg-11+deb12u3
sqlite_version=3.40.1
sqlite_debian_version=3.40.1-2+deb12u2
kit_name="qt$qt_version-x86_64-w64-mingw32"
prefix=/opt/qt5-mingw64

say() { echo "build-qt-kit: $*"; }
die() { echo "build-qt-kit: $*" >&2; exit 1; }

usage() {
  awk '/^#   scripts\/build-qt-kit.sh/ { on = 1 } /^# An interrupted/ { on = 0 } on { sub(/^# ?/, ""); print }' \
    "${BASH_SOURCE[0]}"
}

force=0
out=""
while [ "$#" -gt 0 ]; do
  case "$1" in
    --force) force=1 ;;
    -h|--help) usage; exit 0 ;;
    -*) usage >&2; die "unknown option $1" ;;
    *) [ -z "$out" ] || die "one output folder only (got $out and $1)"; out="$1" ;;
  esac
  shift
done

stop_after="${COURIER_KIT_STOP_AFTER:-}"
case "$stop_after" in
  ""|fetch|prepare|configure) ;;
  *) die "COURIER_KIT_STOP_AFTER must be fetch, prepare or configure (got '$stop_after')" ;;
esac

sqlite_patches="${COURIER_KIT_SQLITE_DEBIAN_PATCHES:-0}"
case "$sqlite_patches" in
  0|1) ;;
  *) die "COURIER_KIT_SQLITE_DEBIAN_PATCHES must be 0 or 1 (got '$sqlite_patches')" ;;
esac

out="${out:-$here/build/qt-kit}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
tarball="$out/$kit_name.tar.xz"
work="$out/work"
downloads="$work/downloads"
src="$work/qtbase-everywhere-src-$qt_version"
build="$work/build"
stage="$work/stage"
cross_bin="$work/cross-bin"

if [ -f "$tarball" ] && [ "$force" -eq 0 ] && [ -z "$stop_after" ]; then
  say "already built (use --force to build again)"
  echo "$tarball"
  exit 0
fi

if [ "$force" -eq 1 ]; then
  # Keep the downloads: they are what apt-get fetched, and a rebuild needs exactly them again.
  say "--force: clearing the previous build in $work"
  rm -rf "$src" "$work/sqlite3" "$build" "$stage" "$cross_bin" "$work"/.stamp-*
  rm -f "$tarball"
fi

# --- tools ---------------------------------------------------------------------------------------

say "checking the build tools"
# shellcheck source-path=SCRIPTDIR/.. source=scripts/packages.sh disable=SC1091
source "$here/scripts/packages.sh"
# build-essential brings the host g++ and make for qmake, moc and friends; dpkg-dev brings
# dpkg-source for apt-get source; tcl is what sqlite's "make sqlite3.c" runs; perl runs syncqt.
ensure_packages build-essential dpkg-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  tcl python3 perl xz-utils tar ca-certificates

mkdir -p "$work"
avail_kb="$(df -Pk "$work" | awk 'NR == 2 { print $4 }')"
if [ "${avail_kb:-0}" -lt $((4 * 1024 * 1024)) ]; then
  say "warning: only $((avail_kb / 1024)) MB free under $work; the build needs about 4 GB"
fi

# --- deb-src entries -----------------------------------------------------------------------------

src_list=/etc/apt/sources.list.d/printcourier-src.sources

# (Captured first: grep -q leaving early would make apt-cache fail with SIGPIPE under pipefail.)
have_source_packages() {
  local qt sqlite
  qt="$(apt-cache showsrc qtbase-opensource-src 2>/dev/null || true)"
  sqlite="$(apt-cache showsrc sqlite3 2>/dev/null || true)"
  grep -q "^Version: $qt_version+" <<<"$qt" && grep -q "^Version: $sqlite_version-" <<<"$sqlite"
}

# Prints deb822 deb-src stanzas mirroring the machine's enabled bookworm "deb" entries (both the
# deb822 .sources files and one-line .list files), so sources come from the same mirror, suites
# and keyring the binaries do. Third-party repositories for other suites are left alone.
derive_deb_src() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    if [ ! -f "$f" ] || [ "$f" = "$src_list" ]; then continue; fi
    awk '
      function flush(   i, n, t, out) {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled !~ /^[Nn][Oo]$/ && suites ~ /(^|[ \t])bookworm/) {
          print "Types: deb-src"
          for (i = 1; i <= nf; i++) print field[i]
          print ""
        }
        nf = 0; types = ""; suites = ""; enabled = ""; skip = 0
      }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (!skip && nf) field[nf] = field[nf] "\n" $0; next }
      {
        name = tolower($0); sub(/:.*/, "", name)
        value = $0; sub(/^[^:]*:[ \t]*/, "", value)
        skip = 0
        if (name == "types") { types = value; skip = 1; next }
        if (name == "enabled") { enabled = value; skip = 1; next }
        if (name == "architectures") { skip = 1; next }
        if (name == "suites") suites = value
        field[++nf] = $0
      }
      END { flush() }
    ' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '
      $1 != "deb" { next }
      {
        i = 2; signed = ""
        if ($2 ~ /^\[/) {
          opts = ""
          for (; i <= NF; i++) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } }
          gsub(/[][]/, "", opts)
          n = split(opts, o, " ")
          for (k = 1; k <= n; k++) if (o[k] ~ /^signed-by=/) { signed = o[k]; sub(/^signed-by=/, "", signed) }
        }
        uri = $i; suite = $(i + 1)
        if (suite !~ /^bookworm/) next
        comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        print "Types: deb-src"
        print "URIs: " uri
        print "Suites: " suite
        print "Components: " comps
        if (signed != "") print "Signed-By: " signed
        print ""
      }
    ' "$f"
  done
}

fallback_deb_src() {
  cat <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
}

if ! have_source_packages; then
  [ "$(id -u)" -eq 0 ] || die "apt knows no bookworm source packages and we are not root; add deb-src entries or rerun as root"
  entries="$(derive_deb_src)"
  if [ -z "$entries" ]; then
    say "no bookworm deb entries found to mirror; using deb.debian.org"
    entries="$(fallback_deb_src)"
  fi
  say "adding deb-src entries in $src_list"
  {
    echo "# Source packages for scripts/build-qt-kit.sh (PrintCourier), mirroring the deb entries."
    echo "$entries"
  } > "$src_list"
  chmod 644 "$src_list"
  say "apt-get update"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  have_source_packages || die "apt still has no qtbase-opensource-src $qt_version or sqlite3 $sqlite_version sources after adding $src_list"
fi

# --- fetch ---------------------------------------------------------------------------------------

# Picks the preferred Debian version if the archive still serves it, else the newest one of the
# same upstream version (a security update moves the revision, not the upstream code we want).
pick_version() {
  local package="$1" preferred="$2" upstream="$3" v best=""
  while read -r v; do
    [ "$v" = "$preferred" ] && { echo "$v"; return 0; }
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best="$v"; fi
  done < <(apt-cache showsrc "$package" | awk '/^Version: /{ print $2 }' | grep "^${upstream//./\\.}[-+]")
  [ -n "$best" ] || return 1
  echo "$best"
}

qt_pick="$(pick_version qtbase-opensource-src "$qt_debian_version" "$qt_version")" ||
  die "bookworm serves no qtbase-opensource-src $qt_version"
sqlite_pick="$(pick_version sqlite3 "$sqlite_debian_version" "$sqlite_version")" ||
  die "bookworm serves no sqlite3 $sqlite_version"
[ "$qt_pick" = "$qt_debian_version" ] ||
  say "note: $qt_debian_version is gone from the archive; using qtbase-opensource-src $qt_pick (same .orig tarball)"
[ "$sqlite_pick" = "$sqlite_debian_version" ] ||
  say "note: $sqlite_debian_version is gone from the archive; using sqlite3 $sqlite_pick"

mkdir -p "$downloads"
fetch() {
  local package="$1" version="$2"
  if [ -f "$downloads/${package}_${version#*:}.dsc" ]; then
    say "have $package $version"
    return 0
  fi
  say "downloading $package $version"
  # Runs as root, so apt warns that it downloads unsandboxed; the files land in our own folder.
  (cd "$downloads" && apt-get source --download-only -qq "$package=$version")
}
fetch qtbase-opensource-src "$qt_pick"
fetch sqlite3 "$sqlite_pick"

qt_orig="$(find "$downloads" -maxdepth 1 -name "qtbase-opensource-src_$qt_version*.orig.tar.*" | head -n 1)"
sqlite_dsc="$downloads/sqlite3_${sqlite_pick#*:}.dsc"
[ -n "$qt_orig" ] || die "no qtbase .orig tarball in $downloads"
[ -f "$sqlite_dsc" ] || die "no $sqlite_dsc"

if [ "$stop_after" = fetch ]; then
  say "stopping after fetch (COURIER_KIT_STOP_AFTER=fetch); sources in $downloads"
  exit 0
fi

# --- prepare the source tree ---------------------------------------------------------------------

prepared_stamp="$work/.stamp-prepared"
prepared_id="qtbase $qt_pick, sqlite3 $sqlite_pick, sqlite patches $sqlite_patches"
if [ -f "$prepared_stamp" ] && [ -d "$src" ] && [ "$(cat "$prepared_stamp")" = "$prepared_id" ]; then
  say "source tree already prepared ($prepared_id)"
else
  rm -f "$prepared_stamp" "$work/.stamp-configured"
  rm -rf "$src" "$work/sqlite3" "$build"

  # Debian's patches are for Linux builds; the kit uses qtbase as released, so the .orig tarball
  # is unpacked as it is rather than through dpkg-source.
  say "unpacking $(basename "$qt_orig")"
  tar --no-same-owner -xf "$qt_orig" -C "$work"
  [ -x "$src/configure" ] || die "$(basename "$qt_orig") did not unpack to $src"

  # dpkg-source checks the files against the .dsc; apt already checked the .dsc against the
  # signed Release file, so its complaint about the .dsc's own signature is only noise.
  if [ "$sqlite_patches" = 1 ]; then
    say "unpacking sqlite3 $sqlite_pick with Debian's patches"
    dpkg-source -x "$sqlite_dsc" "$work/sqlite3" > /dev/null
  else
    say "unpacking sqlite3 $sqlite_pick as released (without Debian's patches, like the prebuilt kit)"
    dpkg-source -x --skip-patches "$sqlite_dsc" "$work/sqlite3" > /dev/null
  fi
  # Extracting outside the downloads folder makes dpkg-source leave copies of the tarballs beside
  # the tree; the downloads folder keeps the originals.
  rm -f "$work"/sqlite3_*.orig*.tar.*

  # Debian's qtbase tarball leaves out the bundled SQLite, and -qt-sqlite needs it: the
  # amalgamation is generated from Debian's sqlite3 source instead.
  say "making the SQLite amalgamation"
  (cd "$work/sqlite3" && ./configure > configure.log 2>&1 && make sqlite3.c > make.log 2>&1) ||
    die "sqlite amalgamation failed; see $work/sqlite3/configure.log and make.log"
  mkdir -p "$src/src/3rdparty/sqlite"
  for f in sqlite3.c sqlite3.h sqlite3ext.h; do
    if [ -f "$work/sqlite3/$f" ]; then
      cp "$work/sqlite3/$f" "$src/src/3rdparty/sqlite/"
    elif [ -f "$work/sqlite3/src/$f" ]; then
      cp "$work/sqlite3/src/$f" "$src/src/3rdparty/sqlite/"
    else
      die "no $f in the sqlite3 tree"
    fi
  done
  grep -q "#define SQLITE_VERSION *\"$sqlite_version\"" "$src/src/3rdparty/sqlite/sqlite3.h" ||
    die "the amalgamation's sqlite3.h is not SQLite $sqlite_version"
  # A tree that differs from SQLite's manifest gets a source id ending in altN; as released, it must not.
  if [ "$sqlite_patches" = 0 ] && grep -q '^#define SQLITE_SOURCE_ID .*alt[0-9]"' "$src/src/3rdparty/sqlite/sqlite3.h"; then
    die "the amalgamation is not SQLite $sqlite_version as released (source id ends in altN)"
  fi
  say "  $(sed -n 's/^#define SQLITE_SOURCE_ID *//p' "$src/src/3rdparty/sqlite/sqlite3.h")"

  # The tarball also leaves out src/3rdparty/wintab, which the Windows platform plug-in includes
  # for tablet input. The plug-in already has a path without tablets, so the tablet code is
  # switched off; tablet input is all that is lost.
  say "switching off tablet input in the Windows platform plug-in (no wintab in the tarball)"
  win="$src/src/plugins/platforms/windows"
  for f in qwindowscontext.cpp qwindowspointerhandler.cpp; do
    before="$(grep -c 'QT_CONFIG(tabletevent)' "$win/$f" || true)"
    [ "$before" -gt 0 ] || die "no QT_CONFIG(tabletevent) in $win/$f; has the source changed?"
    sed -i 's/QT_CONFIG(tabletevent)/0/g' "$win/$f"
    ! grep -q 'QT_CONFIG(tabletevent)' "$win/$f" || die "QT_CONFIG(tabletevent) left in $win/$f"
    say "  $f: $before QT_CONFIG(tabletevent) -> 0"
  done
  [ "$(grep -c '^[[:space:]]*qtConfig(tabletevent)[[:space:]]*{' "$win/windows.pri" || true)" -eq 1 ] ||
    die "expected one qtConfig(tabletevent) { block in $win/windows.pri; has the source changed?"
  sed -i 's/^\([[:space:]]*\)qtConfig(tabletevent)\([[:space:]]*\){/\1false\2{/' "$win/windows.pri"
  ! grep -q 'qtConfig(tabletevent)' "$win/windows.pri" || die "qtConfig(tabletevent) left in $win/windows.pri"
  grep -q '^[[:space:]]*false[[:space:]]*{' "$win/windows.pri" || die "no false { block in $win/windows.pri"
  say "  windows.pri: qtConfig(tabletevent) { -> false {"

  echo "$prepared_id" > "$prepared_stamp"
fi

if [ "$stop_after" = prepare ]; then
  say "stopping after prepare (COURIER_KIT_STOP_AFTER=prepare); source tree in $src"
  exit 0
fi

# --- configure -----------------------------------------------------------------------------------

# win32-g++ calls its compilers ${CROSS_COMPILE}gcc and so on. Debian points the unsuffixed
# x86_64-w64-mingw32-gcc at whichever thread model its alternatives chose, so a folder of links
# to the -posix compilers goes first on PATH to make Qt's threads (and std::thread in the
# program) use winpthreads whatever the machine's alternatives say.
rm -rf "$cross_bin"
mkdir -p "$cross_bin"
for t in gcc g++ c++ cpp; do
  [ -x "/usr/bin/x86_64-w64-mingw32-$t-posix" ] || die "no /usr/bin/x86_64-w64-mingw32-$t-posix"
  ln -s "/usr/bin/x86_64-w64-mingw32-$t-posix" "$cross_bin/x86_64-w64-mingw32-$t"
done
for t in ar ranlib strip windres objcopy objdump nm ld as dlltool; do
  [ -x "/usr/bin/x86_64-w64-mingw32-$t" ] || die "no /usr/bin/x86_64-w64-mingw32-$t"
  ln -s "/usr/bin/x86_64-w64-mingw32-$t" "$cross_bin/x86_64-w64-mingw32-$t"
done
export PATH="$cross_bin:$PATH"
compiler_info="$(x86_64-w64-mingw32-g++ -v 2>&1)"
grep -q '^Thread model: posix' <<<"$compiler_info" ||
  die "x86_64-w64-mingw32-g++ on PATH is not the posix thread model"

configured_stamp="$work/.stamp-configured"
if [ -f "$configured_stamp" ] && [ -f "$build/Makefile" ]; then
  say "qtbase already configured in $build"
else
  rm -rf "$build"
  mkdir -p "$build"
  say "configuring qtbase in $build"
  (cd "$build" && "$src/configure" -xplatform win32-g++ \
    -device-option CROSS_COMPILE=x86_64-w64-mingw32- -prefix "$prefix" \
    -release -opensource -confirm-license -nomake examples -nomake tests -no-opengl -no-dbus \
    -no-icu -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype -sql-sqlite \
    -qt-sqlite -no-openssl -no-feature-testlib -make libs -silent)
  touch "$configured_stamp"
fi

if [ "$stop_after" = configure ]; then
  say "stopping after configure (COURIER_KIT_STOP_AFTER=configure); build folder $build"
  exit 0
fi

# --- build, install, strip, pack -----------------------------------------------------------------

say "building qtbase with $(nproc) jobs (about an hour on two cores)"
make -C "$build" -j"$(nproc)"

say "installing into $stage"
rm -rf "$stage"
make -C "$build" install INSTALL_ROOT="$stage"
kit="$stage$prefix"
[ -f "$kit/bin/Qt5Core.dll" ] || die "no Qt5Core.dll in $kit/bin after make install"

say "stripping"
x86_64-w64-mingw32-strip --strip-unneeded "$kit"/bin/*.dll "$kit"/plugins/*/*.dll
strip "$kit"/bin/{moc,qmake,rcc,uic,qlalr,qvkgen,tracegen}

# The kit is for building against, not for reading; the documentation only adds to the download.
rm -rf "$kit/doc"
mv "$kit" "$stage/$kit_name"

say "packing $kit_name.tar.xz"
(cd "$stage" && tar -cf - "$kit_name") | xz -6 > "$tarball.part"
mv "$tarball.part" "$tarball"
say "done: $(du -h "$tarball" | cut -f1) packed"
echo "$tarball"
