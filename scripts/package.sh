#!/usr/bin/env bash
# Builds the Debian package farlink_<version>_<arch>.deb and prints its path.
#   scripts/package.sh                      Release build in build-release/, then the package
#   scripts/package.sh BUILD-DIR            the package from that tree, configured for a release
#                                           and built first when it has never been configured
#   scripts/package.sh --no-build BUILD-DIR the package from what the tree already holds
# The package is written into the build directory. Needs cmake, dpkg-dev (dpkg-shlibdeps) and
# scdoc for the manual pages.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"

build=1
if [ "${1:-}" = "--no-build" ]; then
    build=0
    shift
fi
dir="${1:-build-release}"
jobs="$(nproc 2>/dev/null || echo 2)"

if [ ! -f "$dir/CMakeCache.txt" ]; then
    if [ "$build" = 0 ]; then
        echo "package.sh: $dir is not a configured build tree" >&2
        exit 1
    fi
    # Debian's hardening flags, all of them, as a package build would pass them; CMake has no
    # CPPFLAGS.
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFARLINK_TESTS=OFF \
          -DFARLINK_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
if [ "$build" = 1 ]; then
    cmake --build "$dir" -j "$jobs" >&2
fi

cache_value() {
    sed -n "s/^$1:[A-Z]*=//p" "$dir/CMakeCache.txt"
}

# The Debian version comes from the changelog; its upstream part must be the project's version,
# so the two cannot drift apart.
changelog="$source_dir/packaging/debian/changelog"
version="$(sed -n '1s/^farlink (\([^)]*\)).*/\1/p' "$changelog")"
project_version="$(cache_value CMAKE_PROJECT_VERSION)"
if [ "${version%-*}" != "$project_version" ]; then
    echo "package.sh: the changelog's version $version is not the project's $project_version" >&2
    exit 1
fi
arch="$(dpkg --print-architecture)"

stage="$(mktemp -d "${TMPDIR:-/tmp}/farlink-deb.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
root="$stage/root"

DESTDIR="$root" cmake --install "$dir" --prefix /usr >/dev/null
for program in farlink farlink-bridge koru-inband; do
    if [ ! -x "$root/usr/bin/$program" ]; then
        echo "package.sh: $dir installed no $program" >&2
        exit 1
    fi
    # As Debian strips programs: no symbols, no compiler notes.
    strip --remove-section=.comment --remove-section=.note "$root/usr/bin/$program"
done

# Debian 12 keeps the units of packages in /lib/systemd/system.
if [ -d "$root/usr/lib/systemd/system" ]; then
    mkdir -p "$root/lib/systemd"
    mv "$root/usr/lib/systemd/system" "$root/lib/systemd/"
    rmdir --ignore-fail-on-non-empty "$root/usr/lib/systemd" "$root/usr/lib"
fi

doc="$root/usr/share/doc/farlink"
mkdir -p "$doc"
install -m 0644 "$source_dir/packaging/debian/copyright" "$doc/copyright"
gzip -9n -c "$changelog" >"$doc/changelog.Debian.gz"
if [ -d "$root/usr/share/man" ]; then
    find "$root/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
fi

# What an install left to the umask is made what Debian expects; the configuration keeps the
# modes the install gave it (TESSEL.INI holds the password: 0600).
find "$root" -type d -exec chmod 0755 {} +
find "$root/usr" "$root/lib" -type f -exec chmod 0644 {} +
chmod 0755 "$root/usr/bin/"*

control="$root/DEBIAN"
mkdir -p "$control"
for script in postinst prerm postrm; do
    install -m 0755 "$source_dir/packaging/debian/$script" "$control/$script"
done
(cd "$root" && find etc -type f | sort | sed 's|^|/|') >"$control/conffiles"
chmod 0644 "$control/conffiles"
(cd "$root" && find usr lib -type f -print0 | sort -z | xargs -0 md5sum) >"$control/md5sums"
chmod 0644 "$control/md5sums"

# The shared libraries the programs link, with the versions they need. Nothing else: the one
# program they run, systemctl, is run only where systemd runs the machine.
mkdir -p "$stage/debian"
printf 'Source: farlink\n\nPackage: farlink\nArchitecture: any\n' >"$stage/debian/control"
depends="$(cd "$stage" && dpkg-shlibdeps -O -e root/usr/bin/farlink -e root/usr/bin/farlink-bridge \
           -e root/usr/bin/koru-inband 2>/dev/null | sed -n 's/^shlibs:Depends=//p')"
if [ -z "$depends" ]; then
    echo "package.sh: dpkg-shlibdeps found no libraries" >&2
    exit 1
fi
size="$(du -sk --exclude=DEBIAN "$root" | cut -f1)"
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
    -e "s/@DEPENDS@/$depends/" "$source_dir/packaging/debian/control" >"$control/control"
chmod 0644 "$control/control"

out="$(cd "$dir" && pwd)/farlink_${version}_${arch}.deb"
dpkg-deb --build --root-owner-group "$root" "$out" >&2
echo "$out"
