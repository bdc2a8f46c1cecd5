# SPDX-License-Identifier: ISC
# Sourced by the scripts that build from a Debian source package:
# debsrc_fetch NAME VERSION CACHE ORIG ORIG-SHA256 DEBIAN DEBIAN-SHA256
# fetches the package's two files into CACHE once, with apt-get source, and
# checks them against the hashes given: apt checks them against the
# archive's signed index, and the hashes pin them to this version. Where apt
# knows no source of that version, a deb-src entry for Debian's archive is
# added (as root). Exits on failure, with the log's tail.
debsrc_fetch() {
    local name=$1 version=$2 cache=$3 orig=$4 orig_sha256=$5 debian=$6 debian_sha256=$7 list
    mkdir -p "$cache"
    have() {
        [ -f "$cache/$orig" ] && [ -f "$cache/$debian" ] &&
            (cd "$cache" && printf '%s  %s\n%s  %s\n' "$orig_sha256" "$orig" "$debian_sha256" "$debian" |
                sha256sum --quiet -c -)
    }
    ! have || return 0
    echo "$name: fetching Debian's $name $version source into $cache" >&2
    if ! apt-cache showsrc "$name" 2>/dev/null | grep -qx "Version: $version"; then
        list=/etc/apt/sources.list.d/varnel-src.sources
        if [ ! -f "$list" ]; then
            cat > "$list" <<'SOURCES'
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
SOURCES
        fi
        apt-get update > "$cache/apt-update.log" 2>&1 || { tail -20 "$cache/apt-update.log" >&2; exit 1; }
        apt-cache showsrc "$name" 2>/dev/null | grep -qx "Version: $version" ||
            { echo "$name: Debian's archive has no source of $name $version any more" >&2; exit 1; }
    fi
    (cd "$cache" && apt-get source --download-only "$name=$version") > "$cache/apt-source.log" 2>&1 ||
        { tail -20 "$cache/apt-source.log" >&2; exit 1; }
    have || { echo "$name: the source in $cache is not $name $version" >&2; exit 1; }
}
