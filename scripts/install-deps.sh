#!/bin/bash
# Installs what Quarrymoth needs to build and test on Debian 12. Run as root.
# Idempotent: packages already present are not touched, and apt-get update only
# runs when something is actually missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake g++
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang-format clang-tidy clang libclang-rt-14-dev
    sharutils coreutils procps openssl ca-certificates libssl-dev zlib1g-dev libjpeg-turbo-progs
    libturbojpeg0-dev libpng-dev
    inn2
    qt6-base-dev libqt6svg6
    dpkg-dev file desktop-file-utils appstream
    xvfb dbus at-spi2-core python3 python3-pyatspi xdotool
    pkg-config libsecret-1-dev gnome-keyring dbus-daemon
)

export DEBIAN_FRONTEND=noninteractive

is_installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for pkg in "${PACKAGES[@]}"; do
    is_installed "$pkg" || missing+=("$pkg")
done

# The news server's post-install step refuses to run when the host name has no
# domain part; give it a throw-away configuration that names one (and an MTA).
INN_DOMAIN="localdomain"
seed_dir=""
# An EXIT trap's last status becomes the exit status: it must not fail when there is nothing to do.
cleanup() { if [ -n "$seed_dir" ]; then rm -rf "$seed_dir"; fi; }
trap cleanup EXIT

apt_install() {
    apt-get install -y -q --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: must run as root to install: ${missing[*]}" >&2
        exit 1
    fi
    echo "install-deps: installing ${missing[*]}"
    seed_dir=$(mktemp -d /tmp/qm-inn-seed.XXXXXX)
    # INNCONF replaces the whole file, so repeat the package's own locations.
    cat >"$seed_dir/inn.conf" <<EOF
domain:         $INN_DOMAIN
mta:            "/bin/true"
pathhost:       server.$INN_DOMAIN
hismethod:      hisv6
enableoverview: true
ovmethod:       tradindexed
pathnews:       /usr/lib/news
pathbin:        /usr/lib/news/bin
pathcontrol:    /usr/lib/news/bin/control
pathfilter:     /etc/news/filter
pathetc:        /etc/news
pathdb:         /var/lib/news
pathrun:        /run/news
pathlog:        /var/log/news
pathhttp:       /var/www/inn
pathspool:      /var/spool/news
patharchive:    /var/spool/news/archive
patharticles:   /var/spool/news/articles
pathincoming:   /var/spool/news/incoming
pathoutgoing:   /var/spool/news/outgoing
pathoverview:   /var/spool/news/overview
pathtmp:        /var/spool/news/incoming/tmp
EOF
    chmod 755 "$seed_dir"
    chmod 644 "$seed_dir/inn.conf"

    # Refresh the package lists first when there are none; otherwise try the
    # cached ones and refresh only if that fails (stale lists give 404s).
    if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
        apt-get update -q
    fi
    if ! INNCONF="$seed_dir/inn.conf" apt_install "${missing[@]}"; then
        apt-get update -q
        INNCONF="$seed_dir/inn.conf" apt_install "${missing[@]}"
    fi
fi

# The system-wide configuration must name a domain too, or INN's tools refuse to run.
if [ -f /etc/news/inn.conf ] && ! grep -Eq '^domain:[[:space:]]*[^[:space:]]' /etc/news/inn.conf; then
    if grep -Eq '^#?[[:space:]]*domain:' /etc/news/inn.conf; then
        sed -i -E "0,/^#?[[:space:]]*domain:.*/s//domain:                 $INN_DOMAIN/" \
            /etc/news/inn.conf
    else
        echo "domain:                 $INN_DOMAIN" >>/etc/news/inn.conf
    fi
fi

# Tests run private server instances on their own ports; the package's own
# server, if it was started, would only hold port 119 and use resources.
stop_system_innd() {
    local pidfile=/run/news/innd.pid
    [ -f "$pidfile" ] || return 0
    local pid
    pid=$(cat "$pidfile" 2>/dev/null || true)
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    echo "install-deps: stopping the system news server (pid $pid)"
    timeout 10 /usr/lib/news/bin/ctlinnd -t 5 shutdown install-deps >/dev/null 2>&1 || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}
# The news server runs as the system user "news" (from base-passwd). A machine whose passwd file
# went missing while packages were set up has the group and the files but not the user; bring
# the system's own backup of the file back, or add the user as base-passwd defines it.
ensure_news_user() {
    getent passwd news >/dev/null 2>&1 && return 0
    if [ ! -e /etc/passwd ] && [ -s /etc/passwd- ]; then
        echo "install-deps: /etc/passwd is missing; restoring it from /etc/passwd-"
        cp -p /etc/passwd- /etc/passwd
    fi
    getent passwd news >/dev/null 2>&1 && return 0
    echo "install-deps: adding the system user news"
    [ -e /etc/passwd ] || : >/etc/passwd
    useradd --system --uid 9 --gid news --home-dir /var/spool/news --no-create-home \
        --shell /usr/sbin/nologin news
}
if is_installed inn2; then
    ensure_news_user
    stop_system_innd
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
        systemctl disable --now inn2 >/dev/null 2>&1 || true
    fi
fi

echo "install-deps: all dependencies present"
