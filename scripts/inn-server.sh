#!/bin/bash
# Runs a private, throw-away news server on 127.0.0.1 for integration tests and
# benchmarks. Everything it needs lives under STATEDIR; nothing touches the
# system-wide news configuration or port 119.
#
#   inn-server.sh start STATEDIR PORT [OWNER_PID]     start innd on PORT; with OWNER_PID,
#                                                     stop it and remove STATEDIR once that
#                                                     process is gone (tests that crash)
#   inn-server.sh start-reader STATEDIR PORT USER PASSWORD
#                                                     start a standalone reader
#                                                     daemon that requires login
#   inn-server.sh tls-reader STATEDIR PORT CERT KEY   start a standalone reader daemon
#                                                     that speaks TLS from the first byte
#                                                     with the certificate CERT (key KEY)
#   inn-server.sh starttls STATEDIR CERT KEY          offer STARTTLS with CERT on the main
#                                                     reader port (new connections)
#   inn-server.sh stop-reader STATEDIR PORT           stop the reader daemon on PORT
#   inn-server.sh newgroup STATEDIR GROUP             create a group (posting allowed)
#   inn-server.sh post STATEDIR PORT FILE...          post each FILE (headers, blank line,
#                                                     body) to the server on PORT
#   inn-server.sh resume STATEDIR PORT                start innd again on PORT over the news
#                                                     kept in STATEDIR by an earlier start
#   inn-server.sh stop STATEDIR                       stop everything started there
#
# Must run as root (the daemons run as the "news" user). PORT must be >= 1024.
set -euo pipefail

INN_BIN=/usr/lib/news/bin
NEWS_USER=news

die() {
    echo "inn-server: $*" >&2
    exit 1
}

as_news() {
    runuser -u "$NEWS_USER" -- env INNCONF="$STATE/etc/inn.conf" "$@"
}

check_port() {
    [[ "$1" =~ ^[0-9]+$ ]] && [ "$1" -ge 1024 ] && [ "$1" -le 65535 ] ||
        die "port must be a number from 1024 to 65535, got '$1'"
}

write_inn_conf() {
    local port=$1
    cat >"$STATE/etc/inn.conf" <<EOF
domain:             qm-test.localdomain
pathhost:           qm-test.localdomain
organization:       "Quarrymoth test server"
mta:                "/bin/true"
bindaddress:        127.0.0.1
port:               $port
hismethod:          hisv6
enableoverview:     true
ovmethod:           tradindexed
allownewnews:       true
maxartsize:         0
localmaxartsize:    0
artcutoff:          0
nnrpdloadlimit:     0
doinnwatch:         false
status:             0
timer:              0
logstatus:          false
wireformat:         true
storeonxref:        true
pgpverify:          false
wipcheck:           0
wipexpire:          0
checkincludedtext:  false
linecountfuzz:      0
readerswhenstopped: true
nnrpdcheckart:      true
nicekids:           0
addinjectionpostinghost: false
pathnews:           /usr/lib/news
pathbin:            /usr/lib/news/bin
pathcontrol:        /usr/lib/news/bin/control
pathfilter:         $STATE/filter
pathetc:            $STATE/etc
pathdb:             $STATE/db
pathrun:            $STATE/run
pathlog:            $STATE/log
pathhttp:           $STATE/http
pathspool:          $STATE/spool
patharchive:        $STATE/spool/archive
patharticles:       $STATE/spool/articles
pathincoming:       $STATE/spool/incoming
pathoutgoing:       $STATE/spool/outgoing
pathoverview:       $STATE/spool/overview
pathtmp:            $STATE/tmp
EOF
}

write_server_files() {
    # Only the local site: no outgoing feeds, no control-message processing.
    echo 'ME:*::' >"$STATE/etc/newsfeeds"
    # No peers at all, so every connection from 127.0.0.1 is a reader (a peer
    # entry for localhost would make readers switch with MODE READER first).
    : >"$STATE/etc/incoming.conf"
    cat >"$STATE/etc/readers.conf" <<'EOF'
auth "everyone" {
    hosts: "*"
    default: "<reader>"
}
access "everyone" {
    users: "<reader>"
    newsgroups: "*"
    access: RPN
}
EOF
    cat >"$STATE/etc/storage.conf" <<'EOF'
method tradspool {
    newsgroups: *
    class: 0
}
EOF
    printf '/remember/:11\n*:A:1:90:never\n' >"$STATE/etc/expire.ctl"
    : >"$STATE/etc/distrib.pats"
    : >"$STATE/etc/moderators"
    : >"$STATE/etc/control.ctl"
    : >"$STATE/etc/localgroups"
    : >"$STATE/etc/subscriptions"
    cat >"$STATE/db/active" <<'EOF'
control 0000000000 0000000001 n
control.cancel 0000000000 0000000001 n
junk 0000000000 0000000001 n
EOF
    : >"$STATE/db/active.times"
    : >"$STATE/db/newsgroups"
    : >"$STATE/db/history"
}

# Without syslog, innd reports why it will not run only in its error log.
innd_errors() {
    tail -n 5 "$STATE/log/errlog" "$STATE/log/innd.out" 2>/dev/null | tr '\n' ' '
}

innd_alive() {
    local pid
    for pid in $(pgrep -u "$NEWS_USER" -x innd || true); do
        if is_ours "$pid"; then return 0; fi
    done
    return 1
}

# Waits for a daemon's pid file; gives up early once alive_check says the
# daemon is gone.
wait_for_pidfile() {
    local pidfile=$1 alive_check=${2:-true}
    for _ in $(seq 250); do
        if [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; then
            return 0
        fi
        "$alive_check" || return 1
        sleep 0.02
    done
    return 1
}

wait_for_port() {
    local port=$1
    for _ in $(seq 250); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        sleep 0.02
    done
    return 1
}

# Cleans up after an owner that died without stopping its server. Ends by
# itself once the state directory has gone away.
start_watchdog() {
    local owner=$1
    [[ "$owner" =~ ^[0-9]+$ ]] || die "bad owner pid '$owner'"
    cd /
    setsid bash -c '
        while sleep 1; do
            [ -d "$2/run" ] || exit 0
            if ! kill -0 "$3" 2>/dev/null; then
                bash "$1" stop "$2"
                rm -rf "$2"
                exit 0
            fi
        done' watchdog "$SCRIPT" "$STATE" "$owner" </dev/null >/dev/null 2>&1 &
}

cmd_start() {
    local port=$1 owner=${2:-}
    check_port "$port"
    mkdir -p "$STATE"
    [ ! -e "$STATE/run/innd.pid" ] || die "a server already runs in $STATE"
    mkdir -p "$STATE"/{etc,db,run,log,http,filter,tmp} \
        "$STATE"/spool/{archive,articles,incoming,outgoing,overview}
    write_inn_conf "$port"
    write_server_files
    chown -R "$NEWS_USER:$NEWS_USER" "$STATE"
    chmod 755 "$STATE"
    (cd "$STATE/db" && as_news "$INN_BIN/makedbz" -i -o) ||
        die "could not build the history database"
    launch_innd "$port"
    if [ -n "$owner" ]; then start_watchdog "$owner"; fi
}

launch_innd() {
    local port=$1
    # innd detaches itself once it listens; its output goes to the log dir
    # because there is no syslog to receive it.
    as_news "$INN_BIN/innd" >>"$STATE/log/innd.out" 2>&1 || die "innd failed: $(innd_errors)"
    wait_for_pidfile "$STATE/run/innd.pid" innd_alive ||
        die "innd did not come up: $(innd_errors)"
    wait_for_port "$port" || die "innd does not answer on port $port: $(innd_errors)"
}

# Keeps the spool, history, overview and active file of the earlier start;
# only the port (in inn.conf) may change.
cmd_resume() {
    local port=$1
    check_port "$port"
    [ -f "$STATE/etc/inn.conf" ] && [ -s "$STATE/db/active" ] ||
        die "no news kept in $STATE; use start"
    if innd_alive; then die "a server already runs in $STATE"; fi
    # Whatever an unclean end left behind would stop innd from starting.
    rm -f "$STATE/run/innd.pid" "$STATE/run/control" "$STATE/run/nntpin"
    write_inn_conf "$port"
    chown "$NEWS_USER:$NEWS_USER" "$STATE/etc/inn.conf"
    launch_innd "$port"
}

# Reads one reply line from descriptor 3 into REPLY_LINE; false when none comes.
read_reply() {
    REPLY_LINE=""
    IFS= read -r -t 30 REPLY_LINE <&3 || return 1
    REPLY_LINE=${REPLY_LINE%$'\r'}
}

# Posts over one reader connection: the article gets CR LF line ends and
# dot-stuffing here, and the server must accept each one with 240.
cmd_post() {
    local port=$1 file
    shift
    check_port "$port"
    for file in "$@"; do
        [ -f "$file" ] && [ -r "$file" ] || die "cannot read article file '$file'"
    done
    exec 3<>"/dev/tcp/127.0.0.1/$port" || die "cannot connect to port $port"
    read_reply && [[ "$REPLY_LINE" == 200* ]] ||
        die "server on port $port does not allow posting: '$REPLY_LINE'"
    for file in "$@"; do
        printf 'POST\r\n' >&3
        read_reply && [[ "$REPLY_LINE" == 340* ]] || die "POST refused: '$REPLY_LINE'"
        sed -e 's/\r$//' -e 's/^\./../' -e 's/$/\r/' "$file" >&3
        printf '.\r\n' >&3
        read_reply && [[ "$REPLY_LINE" == 240* ]] ||
            die "article $file not accepted: '$REPLY_LINE'"
    done
    printf 'QUIT\r\n' >&3
    read_reply || true
    exec 3<&-
}

cmd_start_reader() {
    local port=$1 user=$2 password=$3
    check_port "$port"
    [ -f "$STATE/etc/inn.conf" ] || die "no server was started in $STATE"
    local hash
    hash=$(openssl passwd -5 -stdin <<<"$password") || die "openssl passwd failed"
    printf '%s:%s\n' "$user" "$hash" >"$STATE/etc/passwd.readers"
    # No default identity: a client that has not logged in gets no access.
    cat >"$STATE/etc/readers-auth.conf" <<EOF
auth "login" {
    hosts: "*"
    auth: "ckpasswd -f $STATE/etc/passwd.readers"
}
access "login" {
    users: "*"
    newsgroups: "*"
    access: RPN
}
EOF
    chown "$NEWS_USER:$NEWS_USER" "$STATE/etc/passwd.readers" "$STATE/etc/readers-auth.conf"
    chmod 600 "$STATE/etc/passwd.readers"
    as_news "$INN_BIN/nnrpd" -D -p "$port" -4 127.0.0.1 -c "$STATE/etc/readers-auth.conf" \
        >>"$STATE/log/nnrpd-$port.out" 2>&1 || die "nnrpd failed to start"
    wait_for_pidfile "$STATE/run/nnrpd-$port.pid" || die "nnrpd did not write its pid file"
    wait_for_port "$port" || die "nnrpd does not answer on port $port"
}

# Copies CERT and KEY where the news user alone may read the key (nnrpd insists)
# and prints the inn.conf lines naming them.
install_tls_files() {
    local name=$1 cert=$2 key=$3 dir="$STATE/tls/$1"
    [ -r "$cert" ] && [ -r "$key" ] || die "cannot read certificate '$cert' or key '$key'"
    mkdir -p "$dir"
    cp "$cert" "$dir/cert.pem"
    cp "$key" "$dir/key.pem"
    chown -R "$NEWS_USER:$NEWS_USER" "$STATE/tls"
    chmod 755 "$STATE/tls" "$dir"
    chmod 600 "$dir/key.pem"
    printf 'tlscapath:          %s\ntlscertfile:        %s\ntlskeyfile:         %s\n' \
        "$dir" "$dir/cert.pem" "$dir/key.pem"
}

# A daemon reads its inn.conf once, so each TLS reader gets a copy of its own
# with its own certificate.
cmd_tls_reader() {
    local port=$1 cert=$2 key=$3 conf="$STATE/etc/inn-tls-$1.conf"
    check_port "$port"
    [ -f "$STATE/etc/inn.conf" ] || die "no server was started in $STATE"
    {
        grep -v '^tls' "$STATE/etc/inn.conf"
        install_tls_files "reader-$port" "$cert" "$key"
    } >"$conf"
    chown "$NEWS_USER:$NEWS_USER" "$conf"
    rm -f "$STATE/run/nnrpd-$port.pid"
    runuser -u "$NEWS_USER" -- env INNCONF="$conf" "$INN_BIN/nnrpd" -D -S -p "$port" \
        -4 127.0.0.1 >>"$STATE/log/nnrpd-$port.out" 2>&1 || die "nnrpd failed to start"
    wait_for_pidfile "$STATE/run/nnrpd-$port.pid" || die "nnrpd did not write its pid file"
    wait_for_port "$port" || die "nnrpd does not answer on port $port"
}

# innd starts a reader process per connection, which reads inn.conf afresh.
cmd_starttls() {
    local cert=$1 key=$2 lines
    [ -f "$STATE/etc/inn.conf" ] || die "no server was started in $STATE"
    lines=$(install_tls_files plain "$cert" "$key")
    sed -i '/^tls/d' "$STATE/etc/inn.conf"
    printf '%s\n' "$lines" >>"$STATE/etc/inn.conf"
}

cmd_stop_reader() {
    local port=$1 pidfile="$STATE/run/nnrpd-$1.pid" pid
    check_port "$port"
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    if is_ours "$pid"; then stop_pid "$pid"; fi
    rm -f "$pidfile"
}

# A daemon that detached itself is reaped by init, which may take a while;
# a zombie has already let go of its port and files, so it counts as gone.
is_running() {
    local state
    state=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

cmd_newgroup() {
    local group=$1
    [[ "$group" =~ ^[A-Za-z0-9][A-Za-z0-9.+_-]*$ ]] || die "bad group name '$group'"
    is_ours "$(cat "$STATE/run/innd.pid" 2>/dev/null || echo 0)" || die "no server runs in $STATE"
    INNCONF="$STATE/etc/inn.conf" timeout 10 "$INN_BIN/ctlinnd" -s -t 5 newgroup "$group" y qm ||
        die "ctlinnd newgroup $group failed"
}

wait_for_exit() {
    local pid=$1 tries=$2
    for _ in $(seq "$tries"); do
        is_running "$pid" || return 0
        sleep 0.05
    done
    return 1
}

# True when PID is a live process of this instance: every daemon and reader
# process started here carries our INNCONF (or a TLS reader's copy of it),
# which a recycled pid would not.
is_ours() {
    [ "$(stat -c %U "/proc/$1" 2>/dev/null)" = "$NEWS_USER" ] && is_running "$1" &&
        tr '\0' '\n' 2>/dev/null <"/proc/$1/environ" |
        grep -qxE "INNCONF=$STATE/etc/inn(-tls-[0-9]+)?\.conf"
}

stop_pid() {
    local pid=$1
    kill -TERM "$pid" 2>/dev/null || true
    wait_for_exit "$pid" 40 || kill -KILL "$pid" 2>/dev/null || true
}

# True once innd has finished shutting down: its control socket is gone and
# all that is left is the idle second it sleeps before exiting.
innd_is_done() {
    [ ! -e "$STATE/run/control" ] &&
        [ "$(cat "/proc/$1/wchan" 2>/dev/null)" = hrtimer_nanosleep ]
}

# innd ignores SIGTERM for a long time; ask it over its control channel and
# force it only if that fails.
stop_innd() {
    local pid=$1
    if INNCONF="$STATE/etc/inn.conf" timeout 5 "$INN_BIN/ctlinnd" -s -t 3 shutdown \
        "test finished" >/dev/null 2>&1; then
        for _ in $(seq 60); do
            is_running "$pid" || return 0
            if innd_is_done "$pid"; then break; fi
            sleep 0.05
        done
    fi
    kill -KILL "$pid" 2>/dev/null || true
    wait_for_exit "$pid" 40 || true
}

cmd_stop() {
    [ -d "$STATE/run" ] || return 0
    local pidfile pid
    for pidfile in "$STATE"/run/nnrpd-*.pid; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        if is_ours "$pid"; then stop_pid "$pid"; fi
        rm -f "$pidfile"
    done
    pidfile="$STATE/run/innd.pid"
    if [ -f "$pidfile" ]; then
        pid=$(cat "$pidfile")
        if is_ours "$pid"; then stop_innd "$pid"; fi
        rm -f "$pidfile"
    fi
    # Reader processes serving clients that never hung up, or anything else
    # left over from this instance.
    for pid in $(pgrep -u "$NEWS_USER" || true); do
        if is_ours "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
    done
}

[ $# -ge 2 ] || die "usage: $0 start|start-reader|tls-reader|starttls|stop-reader|newgroup|post|resume|stop STATEDIR ..."
[ "$(id -u)" -eq 0 ] || die "must run as root"
id "$NEWS_USER" >/dev/null 2>&1 || die "user $NEWS_USER missing; is inn2 installed?"
[ -x "$INN_BIN/innd" ] || die "$INN_BIN/innd missing; run scripts/install-deps.sh"

SCRIPT=$(realpath "$0")
command=$1
STATE=$(realpath -m "$2")
case "$STATE" in
/tmp/?*) ;;
*) die "state directory must be under /tmp, got '$STATE'" ;;
esac

case "$command" in
start)
    [ $# -eq 3 ] || [ $# -eq 4 ] || die "usage: $0 start STATEDIR PORT [OWNER_PID]"
    cmd_start "$3" "${4:-}"
    ;;
start-reader)
    [ $# -eq 5 ] || die "usage: $0 start-reader STATEDIR PORT USER PASSWORD"
    cmd_start_reader "$3" "$4" "$5"
    ;;
tls-reader)
    [ $# -eq 5 ] || die "usage: $0 tls-reader STATEDIR PORT CERT KEY"
    cmd_tls_reader "$3" "$4" "$5"
    ;;
starttls)
    [ $# -eq 4 ] || die "usage: $0 starttls STATEDIR CERT KEY"
    cmd_starttls "$3" "$4"
    ;;
stop-reader)
    [ $# -eq 3 ] || die "usage: $0 stop-reader STATEDIR PORT"
    cmd_stop_reader "$3"
    ;;
newgroup)
    [ $# -eq 3 ] || die "usage: $0 newgroup STATEDIR GROUP"
    cmd_newgroup "$3"
    ;;
post)
    [ $# -ge 4 ] || die "usage: $0 post STATEDIR PORT FILE..."
    cmd_post "$3" "${@:4}"
    ;;
resume)
    [ $# -eq 3 ] || die "usage: $0 resume STATEDIR PORT"
    cmd_resume "$3"
    ;;
stop)
    [ $# -eq 2 ] || die "usage: $0 stop STATEDIR"
    cmd_stop
    ;;
*) die "unknown command '$command'" ;;
esac
