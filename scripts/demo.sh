#!/bin/bash
# Shows Quarrymoth at work without a news server of your own: runs a private
# news server on 127.0.0.1 that carries two picture groups, harvests them over
# TLS (the server has a certificate of its own, from a demo authority the
# programs are told to trust) into demo/ at the top of the repository, and
# stops the server again. With a display
# the harvest runs in the window (started with /AutoStart, so it closes itself
# when the run is over); without one, with the command-line runner.
#
#   scripts/demo.sh           install what is missing, build, harvest
#   scripts/demo.sh --reset   forget everything (demo/ and the server's news)
#
# Run it twice: the second run saves nothing new, because the read marks and
# the history remember what the first one saved. Needs root (it installs
# packages and the news server runs as the "news" user).
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEMO="$REPO/demo"
DATA="$DEMO/data"
PICTURES="$DEMO/pictures"
PROFILE="$DEMO/quarrymoth.ini"
INN_STATE=/tmp/quarrymoth-demo-inn
INN_SCRIPT="$REPO/scripts/inn-server.sh"
CLI="$REPO/build/quarrymoth-cli"
WINDOW="$REPO/build/quarrymoth"
HOST=127.0.0.1
GROUPS_=(alt.binaries.pictures.demo.landscapes alt.binaries.pictures.demo.abstract)
# Written once the sample articles are on the server; its number changes whenever the samples
# do, so that a server holding older samples is set up anew.
POSTED_MARK="$INN_STATE/demo-posted-2"
SERVER_MARK="$DATA/.demo-server"      # which server's news the read marks in demo/ belong to
TLS_DIR="$INN_STATE/demo-tls"         # the demo authority and the server's certificate
PORT=""
TLS_PORT=""
ARTICLES_DIR=""

say() { printf 'demo: %s\n' "$*"; }
die() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

usage() {
    sed -n '2,12s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

require_root() {
    [ "$(id -u)" -eq 0 ] && return 0
    die "must run as root: it installs packages and starts a private news server as the" \
        "'news' user. Try: sudo $0${*:+ $*}"
}

# ---------------------------------------------------------------- sample pictures

# Writes a plain (P3) PPM picture of KIND, WIDTH x HEIGHT, to stdout.
make_ppm() {
    awk -v kind="$1" -v W="$2" -v H="$3" '
    function clamp(v) { return v < 0 ? 0 : (v > 255 ? 255 : int(v)) }
    function mix(a, b, t) { return a + (b - a) * t }
    # Hue 0..1 to R, G, B (saturation and value 1) in HR, HG, HB.
    function hue(h,   i, f) {
        h = (h - int(h)) * 6; i = int(h); f = h - i
        if (i == 0) { HR = 1; HG = f; HB = 0 }
        else if (i == 1) { HR = 1 - f; HG = 1; HB = 0 }
        else if (i == 2) { HR = 0; HG = 1; HB = f }
        else if (i == 3) { HR = 0; HG = 1 - f; HB = 1 }
        else if (i == 4) { HR = f; HG = 0; HB = 1 }
        else { HR = 1; HG = 0; HB = 1 - f }
    }
    # A repeatable pseudo-random value 0..1 for a pixel.
    function noise(x, y,   n) { n = sin(x * 12.9898 + y * 78.233) * 43758.5453; return n - int(n) < 0 ? n - int(n) + 1 : n - int(n) }
    function sky(t, r1, g1, b1, r2, g2, b2) { R = mix(r1, r2, t); G = mix(g1, g2, t); B = mix(b1, b2, t) }
    function pixel(x, y,   u, v, d, t, ridge, k, s) {
        u = x / W; v = y / H
        if (kind == "sunset") {
            sky(v / 0.7, 40, 30, 110, 255, 150, 60)
            d = sqrt((u - 0.68) ^ 2 * (W / H) ^ 2 + (v - 0.55) ^ 2)
            if (d < 0.11) { R = 255; G = 230; B = 120 }
            else if (d < 0.2) { t = (0.2 - d) / 0.09 * 0.5; R = mix(R, 255, t); G = mix(G, 220, t); B = mix(B, 120, t) }
            ridge = 0.66 + 0.06 * sin(u * 9.4) + 0.03 * sin(u * 23 + 1)
            if (v > ridge) { t = (v - ridge) / (1 - ridge); R = mix(60, 15, t); G = mix(70, 30, t); B = mix(40, 20, t) }
        } else if (kind == "mountains") {
            sky(v, 120, 170, 235, 225, 240, 250)
            for (k = 0; k < 3; k++) {
                ridge = 0.35 + k * 0.17 + 0.12 * sin(u * (5 + k * 3) + k * 2) + 0.05 * sin(u * (17 + k * 5))
                if (v > ridge) {
                    R = 110 - k * 35; G = 120 - k * 30; B = 150 - k * 35
                    if (k == 0 && v < ridge + 0.05) { R = 245; G = 248; B = 252 }
                }
            }
        } else if (kind == "seaside") {
            if (v < 0.5) sky(v / 0.5, 90, 160, 230, 200, 225, 245)
            else if (v < 0.8) {
                t = (v - 0.5) / 0.3; s = 0.5 + 0.5 * sin(y * 0.9 + 6 * sin(u * 12))
                R = mix(30, 20, t) + 40 * s; G = mix(110, 80, t) + 40 * s; B = mix(170, 130, t) + 40 * s
            } else { t = noise(x, y) * 25; R = 225 - t; G = 200 - t; B = 150 - t }
        } else if (kind == "night") {
            sky(v, 5, 10, 40, 30, 40, 90)
            if (noise(x, y) > 0.9975) { R = 255; G = 255; B = 230 }
            d = sqrt((u - 0.25) ^ 2 * (W / H) ^ 2 + (v - 0.25) ^ 2)
            if (d < 0.1) {
                R = 235; G = 235; B = 210
                if (sqrt((u - 0.23) ^ 2 * (W / H) ^ 2 + (v - 0.22) ^ 2) < 0.025) { R = 205; G = 205; B = 185 }
                if (sqrt((u - 0.28) ^ 2 * (W / H) ^ 2 + (v - 0.29) ^ 2) < 0.018) { R = 210; G = 210; B = 190 }
            }
            ridge = 0.75 + 0.07 * sin(u * 7 + 2) + 0.02 * sin(u * 31)
            if (v > ridge) { R = 8; G = 12; B = 20 }
        } else if (kind == "rings") {
            d = sqrt((u - 0.5) ^ 2 * (W / H) ^ 2 + (v - 0.5) ^ 2)
            hue(d * 1.6); s = 0.55 + 0.45 * cos(d * 60)
            R = 255 * HR * s; G = 255 * HG * s; B = 255 * HB * s
        } else if (kind == "stripes") {
            hue((u + v) * 1.5); s = (int((x + y) / 18) % 2) ? 1 : 0.7
            R = 255 * HR * s; G = 255 * HG * s; B = 255 * HB * s
        } else if (kind == "plasma") {
            s = sin(u * 10) + sin(v * 13 + 1) + sin((u + v) * 7) + sin(sqrt((u - 0.3) ^ 2 + (v - 0.7) ^ 2) * 25)
            hue(s / 8 + 0.5)
            R = 60 + 195 * HR; G = 40 + 215 * HG; B = 80 + 175 * HB
        } else {  # dots
            k = 36; d = sqrt((x % k - k / 2) ^ 2 + (y % k - k / 2) ^ 2)
            s = 4 + 12 * (int(x / k) + int(y / k)) / (W / k + H / k)
            if (d < s) { hue(int(x / k) / (W / k)); R = 255 * HR; G = 255 * HG; B = 255 * HB }
            else { R = 245; G = 240; B = 225 }
        }
        return clamp(R) " " clamp(G) " " clamp(B)
    }
    BEGIN {
        print "P3"; print W, H; print 255
        for (y = 0; y < H; y++) {
            line = ""
            for (x = 0; x < W; x++) line = line pixel(x, y) " "
            print line
        }
    }'
}

# Writes FILE yEnc-encoded under NAME as posting programs do: lines of 128
# characters, "=" escaping NUL, LF, CR and "=" (and TAB, SPACE and "." where a
# line starts, TAB and SPACE where it ends), the size and CRC32 in the trailer.
# Debian packages no yEnc encoder.
yencode() {
    python3 - "$1" "$2" <<'EOF'
import sys, zlib
data = open(sys.argv[1], "rb").read()
out = bytearray(b"=ybegin line=128 size=%d name=%s\n" % (len(data), sys.argv[2].encode()))
column = 0
for i, byte in enumerate(data):
    c = (byte + 42) & 255
    first, last = column == 0, column + 1 >= 128 or i + 1 == len(data)
    if c in (0, 10, 13, 61) or (c in (9, 32) and (first or last)) or (first and c == 46):
        out += bytes((61, (c + 64) & 255))
        column += 2
    else:
        out.append(c)
        column += 1
    if column >= 128:
        out += b"\n"
        column = 0
if column:
    out += b"\n"
out += b"=yend size=%d crc32=%08x\n" % (len(data), zlib.crc32(data))
sys.stdout.buffer.write(out)
EOF
}

# Writes the text of one article. ENCODING is uu, yenc or mime.
write_article() {
    local group=$1 name=$2 encoding=$3 caption=$4 jpeg=$5
    local from="Demo Poster <poster@demo.quarrymoth.invalid>"
    local id="<${name%.jpg}.${group##*.}@demo.quarrymoth.invalid>"
    if [ "$encoding" = uu ]; then
        printf 'From: %s\nNewsgroups: %s\nSubject: %s - %s (1/1)\nMessage-ID: %s\n\n' \
            "$from" "$group" "$caption" "$name" "$id"
        printf '%s, a uuencoded picture for the Quarrymoth demo.\n\n' "$caption"
        uuencode "$jpeg" "$name"
    elif [ "$encoding" = yenc ]; then
        printf 'From: %s\nNewsgroups: %s\nSubject: %s - "%s" yEnc (1/1)\nMessage-ID: %s\n\n' \
            "$from" "$group" "$caption" "$name" "$id"
        printf '%s, a yEnc picture for the Quarrymoth demo.\n\n' "$caption"
        yencode "$jpeg" "$name"
    else
        local boundary="----=_Part_quarrymoth_demo"
        printf 'From: %s\nNewsgroups: %s\nSubject: %s - %s (1/1)\nMessage-ID: %s\n' \
            "$from" "$group" "$caption" "$name" "$id"
        printf 'MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary="%s"\n\n' "$boundary"
        printf 'This is a multi-part message in MIME format.\n\n--%s\n' "$boundary"
        printf 'Content-Type: text/plain; charset=us-ascii\n\n'
        printf '%s, a MIME picture for the Quarrymoth demo.\n\n--%s\n' "$caption" "$boundary"
        printf 'Content-Type: image/jpeg; name="%s"\n' "$name"
        printf 'Content-Transfer-Encoding: base64\n'
        printf 'Content-Disposition: attachment; filename="%s"\n\n' "$name"
        base64 -w 76 "$jpeg"
        printf -- '--%s--\n' "$boundary"
    fi
}

write_text_article() {
    local group=$1
    printf 'From: Demo Poster <poster@demo.quarrymoth.invalid>\nNewsgroups: %s\n' "$group"
    printf 'Subject: Welcome to %s\nMessage-ID: <welcome.%s@demo.quarrymoth.invalid>\n\n' \
        "$group" "${group##*.}"
    printf 'A short text article without a picture: the line limits skip it.\n'
}

# group, picture kind, file name, encoding, caption.
SAMPLES=(
    "landscapes sunset sunset_over_hills.jpg uu Sunset_over_the_hills"
    "landscapes mountains mountain_ridges.jpg mime Mountain_ridges"
    "landscapes seaside seaside.jpg yenc Seaside_afternoon"
    "landscapes night moonlit_night.jpg mime Moonlit_night"
    "abstract rings rainbow_rings.jpg mime Rainbow_rings"
    "abstract stripes diagonal_stripes.jpg uu Diagonal_stripes"
    "abstract plasma plasma.jpg mime Plasma_swirls"
    "abstract dots growing_dots.jpg yenc Growing_dots"
)
PICTURES_POSTED=${#SAMPLES[@]}
ARTICLES_PER_GROUP=5 # the welcome text and four pictures

make_articles() {
    local dir=$1 group_suffix kind name encoding caption group g sample n=0
    for g in "${GROUPS_[@]}"; do
        n=$((n + 1))
        write_text_article "$g" >"$dir/$(printf '%02d' $n)-welcome.txt"
    done
    for sample in "${SAMPLES[@]}"; do
        read -r group_suffix kind name encoding caption <<<"$sample"
        group="alt.binaries.pictures.demo.$group_suffix"
        make_ppm "$kind" 480 360 >"$dir/$kind.ppm"
        cjpeg -quality 85 -optimize "$dir/$kind.ppm" >"$dir/$kind.jpg"
        n=$((n + 1))
        write_article "$group" "$name" "$encoding" "${caption//_/ }" "$dir/$kind.jpg" \
            >"$dir/$(printf '%02d' $n)-$kind.txt"
    done
}

# Number of articles the server reports for a group (GROUP reply), or -1.
group_count() {
    local port=$1 group=$2 reply count=-1
    if exec 4<>"/dev/tcp/$HOST/$port"; then
        IFS= read -r -t 10 reply <&4 || true
        printf 'GROUP %s\r\n' "$group" >&4
        if IFS= read -r -t 10 reply <&4 && [[ "$reply" == 211\ * ]]; then
            read -r _ count _ <<<"$reply"
        fi
        printf 'QUIT\r\n' >&4
        exec 4<&-
    fi 2>/dev/null
    echo "$count"
}

wait_for_articles() {
    local port=$1 group=$2 want=$3
    for _ in $(seq 100); do
        [ "$(group_count "$port" "$group")" -ge "$want" ] && return 0
        sleep 0.1
    done
    die "the news server does not show $want articles in $group"
}

# ---------------------------------------------------------------- news server

free_port() {
    local port
    for port in $(seq 11119 11199); do
        if ! (exec 3<>"/dev/tcp/$HOST/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    die "no free port between 11119 and 11199"
}

stop_server() { bash "$INN_SCRIPT" stop "$INN_STATE" >/dev/null 2>&1 || true; }

# A certificate authority of the demo's own and a certificate it signed for
# 127.0.0.1, made once and kept with the server's news.
make_tls_files() {
    [ -s "$TLS_DIR/server.pem" ] && [ -s "$TLS_DIR/ca.pem" ] && return 0
    mkdir -p "$TLS_DIR"
    local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${ec[@]}" -days 3650 -subj "/CN=Quarrymoth demo authority" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
        -keyout "$TLS_DIR/ca.key" -out "$TLS_DIR/ca.pem" 2>/dev/null
    openssl req "${ec[@]}" -subj "/CN=$HOST" -keyout "$TLS_DIR/server.key" \
        -out "$TLS_DIR/server.csr" 2>/dev/null
    openssl x509 -req -in "$TLS_DIR/server.csr" -CA "$TLS_DIR/ca.pem" -CAkey "$TLS_DIR/ca.key" \
        -CAcreateserial -days 825 -out "$TLS_DIR/server.pem" -extfile <(
            printf 'subjectAltName=IP:%s,DNS:localhost\nbasicConstraints=CA:FALSE\n' "$HOST"
            printf 'extendedKeyUsage=serverAuth\n'
        ) 2>/dev/null
}

# A reader on a port of its own that speaks TLS from the first byte (NNTPS).
start_tls_reader() {
    make_tls_files
    TLS_PORT=$(free_port)
    bash "$INN_SCRIPT" tls-reader "$INN_STATE" "$TLS_PORT" "$TLS_DIR/server.pem" \
        "$TLS_DIR/server.key"
}

# Starts the server on a free port (kept in PORT); on the first run also
# creates the groups and posts the samples.
start_server() {
    PORT=$(free_port)
    stop_server
    if [ -f "$POSTED_MARK" ]; then
        bash "$INN_SCRIPT" resume "$INN_STATE" "$PORT" && return 0
        say "the kept news server would not start again; setting it up anew"
        stop_server
    fi
    rm -rf "$INN_STATE"
    bash "$INN_SCRIPT" start "$INN_STATE" "$PORT"
    local g
    for g in "${GROUPS_[@]}"; do bash "$INN_SCRIPT" newgroup "$INN_STATE" "$g"; done
    ARTICLES_DIR=$(mktemp -d /tmp/quarrymoth-demo-articles.XXXXXX)
    say "making ${PICTURES_POSTED} sample pictures and posting them to ${GROUPS_[*]}"
    make_articles "$ARTICLES_DIR"
    bash "$INN_SCRIPT" post "$INN_STATE" "$PORT" "$ARTICLES_DIR"/*.txt
    rm -rf "$ARTICLES_DIR"
    date +%s.%N >"$POSTED_MARK"
}

# Always run on the way out, however the demo ends.
clean_up() {
    stop_server
    if [ -n "$ARTICLES_DIR" ]; then rm -rf "$ARTICLES_DIR"; fi
}

# ---------------------------------------------------------------- the demo folder

# Writes the profile: the main section as the demo wants it, every other
# section (the read marks under the server's name) kept from the last run.
write_profile() {
    local port=$1 old=""
    [ -f "$PROFILE" ] && old=$(cat "$PROFILE")
    {
        cat <<EOF
[Quarrymoth]
NNTPHost=$HOST
NNTPPort=$port
DownloadDirectory=$PICTURES/
MinLines=100
MaxLines=5000
SubjectIncl=jpg
SubjectIncl2=1/1
HistSaveFrequency=5
EnableLogging=1
LogFile=$DATA/DownloadLog
ACDSeeDescription=1
ShowThumbnail=1
Reconnect=3
EOF
        # The server's section (its read marks kept) says to use TLS from the first byte.
        printf '%s\n' "$old" | awk -v host="[$HOST]" '
            /^\[/ { section = tolower($0); keep = section != "[quarrymoth]"
                    if (keep) { print ""; print }
                    if (section == host) { print "UseTLS=1"; seen = 1 }
                    next }
            section == host && tolower($0) ~ /^usetls=/ { next }
            keep && NF { print }
            END { if (!seen) printf "\n%s\nUseTLS=1\n", host }'
    } >"$PROFILE.new"
    chmod 600 "$PROFILE.new"
    mv "$PROFILE.new" "$PROFILE"
}

# The read marks and history in demo/ only make sense for the news they were
# made from: start demo/ afresh when the server's news were made anew.
prepare_demo_folder() {
    if [ -d "$DEMO" ] && ! cmp -s "$POSTED_MARK" "$SERVER_MARK"; then
        say "the demo news server was set up anew; starting demo/ afresh"
        rm -rf "$DEMO"
    fi
    mkdir -p "$DATA" "$PICTURES"
    cp "$POSTED_MARK" "$SERVER_MARK"
    printf '%s\n' "${GROUPS_[@]}" >"$DATA/Groups.$HOST"
}

list_pictures() {
    find "$PICTURES" -maxdepth 1 -type f ! -name Descript.ion -printf '%f\n' | LC_ALL=C sort
}

# ---------------------------------------------------------------- steps

build_runner() {
    say "building the programs into build/ (log: build/demo-build.log)"
    mkdir -p "$REPO/build"
    local log="$REPO/build/demo-build.log"
    # Configured every time: a build folder made before a program was added has no target for it.
    if cmake -S "$REPO" -B "$REPO/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1 &&
        cmake --build "$REPO/build" --target quarrymoth-cli quarrymoth -j2 >>"$log" 2>&1; then
        return 0
    fi
    tail -n 30 "$log" >&2
    die "the build failed; see build/demo-build.log"
}

reset_demo() {
    require_root "$@"
    stop_server
    rm -rf "$INN_STATE" "$DEMO"
    say "removed demo/ and the demo news server's state; the next run starts afresh"
}

run_demo() {
    require_root
    bash "$REPO/scripts/install-deps.sh"
    build_runner

    trap clean_up EXIT
    trap 'exit 130' INT TERM
    say "starting the demo news server on $HOST"
    start_server
    local g
    for g in "${GROUPS_[@]}"; do wait_for_articles "$PORT" "$g" "$ARTICLES_PER_GROUP"; done
    start_tls_reader
    say "news server ready on $HOST: port $PORT plain, port $TLS_PORT TLS"

    prepare_demo_folder
    write_profile "$TLS_PORT"
    # The programs trust the demo's authority (and only it) for this run.
    export SSL_CERT_FILE="$TLS_DIR/ca.pem"
    local before
    before=$(list_pictures)

    local status=0
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        say "harvesting in the window: build/quarrymoth --profile demo/quarrymoth.ini" \
            "--datadir demo/data /AutoStart"
        (cd "$REPO" && "$WINDOW" --profile demo/quarrymoth.ini --datadir demo/data /AutoStart) ||
            status=$?
    else
        say "harvesting: build/quarrymoth-cli run --profile demo/quarrymoth.ini --datadir demo/data --yes"
        echo
        (cd "$REPO" && "$CLI" run --profile demo/quarrymoth.ini --datadir demo/data --yes) ||
            status=$?
        echo
    fi

    local after name size new=0 mark
    after=$(list_pictures)
    say "pictures in demo/pictures:"
    while IFS= read -r name; do
        [ -n "$name" ] || continue
        size=$(stat -c %s "$PICTURES/$name")
        mark=""
        if ! grep -qxF -- "$name" <<<"$before"; then
            mark="  (new)"
            new=$((new + 1))
        fi
        printf '  %9s bytes  %s%s\n' "$size" "$name" "$mark"
    done <<<"$after"
    [ -n "$after" ] || echo "  (none)"
    say "download log: demo/data/DownloadLog; descriptions: demo/pictures/Descript.ion"
    if [ "$status" -ne 0 ]; then
        die "the harvest did not complete (exit status $status)"
    fi
    if [ "$new" -gt 0 ]; then
        say "Saved $new new picture$([ "$new" -eq 1 ] || echo s) into demo/pictures"
    else
        say "Saved nothing new: the read marks and the history remember what earlier runs saved."
        say "Run scripts/demo.sh --reset for a fresh start."
    fi
}

case "${1:-}" in
"") run_demo ;;
--reset) reset_demo "$@" ;;
-h | --help) usage ;;
*)
    usage >&2
    exit 2
    ;;
esac
