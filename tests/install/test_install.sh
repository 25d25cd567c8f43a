#!/usr/bin/env bash
# test_install.sh BUILD_DIR PROGRAM... : installs BUILD_DIR into a temporary
# DESTDIR with prefix /usr, checks the installed files, then starts the
# installed program offscreen, first from a writable folder, then from a
# read-only one, with the user's folders in the temporary folder.
set -euo pipefail
build=$1
shift
programs=("$@")

tmp=$(mktemp -d)
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
    chmod -R u+w "$tmp" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
usr="$tmp/root/usr"
bin="$usr/bin"

for p in "${programs[@]}"; do
    [ -x "$bin/$p" ] || fail "$p is not installed in bin/"
    if ldd "$bin/$p" | grep -q "not found"; then
        fail "$p needs a library that is missing: $(ldd "$bin/$p" | grep "not found")"
    fi
done

# What tarvik-cli runs for a PDF report: installed, and found by the
# installed tarvik-cli (an empty history then stops it, not a missing program).
pdf="$usr/libexec/tarvik/tarvik-cli-pdf"
[ -x "$pdf" ] || fail "tarvik-cli-pdf is not installed"
if ldd "$pdf" | grep -q "not found"; then
    fail "tarvik-cli-pdf needs a library that is missing: $(ldd "$pdf" | grep "not found")"
fi
TARVIK_HISTORICO="$tmp/vazio.sqlite" QT_QPA_PLATFORM=offscreen \
    "$bin/tarvik-cli" historico relatorio --pdf "$tmp/r.pdf" >"$tmp/out" 2>&1 || true
grep -q "nenhum controlador" "$tmp/out" || fail "tarvik-cli --pdf: $(cat "$tmp/out")"

desktop="$usr/share/applications/tarvik.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry not valid"
fi
grep -qx "Name=Tarvik" "$desktop" || fail "desktop entry not named Tarvik"
grep -qx "Categories=Utility;Engineering;" "$desktop" || fail "desktop entry categories"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$bin/$exec_name" ] || fail "desktop entry runs '$exec_name', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -s "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
png="$usr/share/icons/hicolor/256x256/apps/$icon.png"
[ -s "$png" ] || fail "no 256-pixel icon $icon"
# PNG: width and height are the big-endian words at bytes 16 and 20.
size=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print ($1*2^24+$2*2^16+$3*2^8+$4) "x" ($5*2^24+$6*2^16+$7*2^8+$8) }')
[ "$size" = 256x256 ] || fail "the 256-pixel icon is $size"
[ -s "$usr/share/doc/tarvik/copyright" ] || fail "no copyright file"

# The publisher service: its unit runs an installed program as the user the
# sysusers entry makes, a member of dialout.
unit="$usr/lib/systemd/system/tarvik-publicar@.service"
[ -f "$unit" ] || fail "no publisher service unit"
unit_exec=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ -x "$tmp/root$unit_exec" ] || fail "the service runs '$unit_exec', which is not installed"
unit_user=$(sed -n 's/^User=//p' "$unit")
grep -q "^u $unit_user " "$usr/lib/sysusers.d/tarvik.conf" || fail "no sysusers entry for $unit_user"
grep -qx "m $unit_user dialout" "$usr/lib/sysusers.d/tarvik.conf" || fail "$unit_user not in dialout"
grep -q "^EnvironmentFile=/etc/tarvik/publicar-%i.conf$" "$unit" || fail "unit configuration file"

# Both services confined: systemd rates each one's exposure 3.0 at most (of 10).
if systemd-analyze security --help 2>/dev/null | grep -q -- "--offline"; then
    for unit in "$usr"/lib/systemd/system/tarvik-*@.service; do
        systemd-analyze security --offline=yes --threshold=30 "$unit" >"$tmp/out" 2>&1 ||
            fail "$(basename "$unit") is exposed: $(tail -1 "$tmp/out")"
    done
else
    echo "not checked: the services' exposure (no systemd-analyze with --offline)"
fi

# The manual pages are not hyphenated: groff's patterns are English ones.
for page in "$usr"/share/man/man1/*.1.gz; do
    gzip -dc "$page" | grep -qx '\.nr HY 0' || fail "$(basename "$page") is hyphenated"
done

# The maintainer scripts the package carries, run as dpkg runs them.
pkg="$(cd "$(dirname "$0")/../../packaging" && pwd)"
for script in postinst prerm postrm; do
    sh -n "$pkg/$script" || fail "$script is not a valid shell script"
done
# They run as root; another user runs them as root of a user namespace.
asroot=()
if [ "$(id -u)" != 0 ]; then
    unshare -r true 2>/dev/null || {
        echo "SKIP: cannot run the maintainer scripts as root here (no user namespace)"
        exit 77
    }
    asroot=(unshare -r)
fi
maint() { # maint SCRIPT ARGUMENT...: as dpkg would, on the system rooted at $DPKG_ROOT
    "${asroot[@]}" env DPKG_MAINTSCRIPT_PACKAGE=tarvik DPKG_MAINTSCRIPT_NAME="$1" \
        sh "$pkg/$1" "${@:2}"
}

# First against the installed tree as the root of a system being installed
# from outside (DPKG_ROOT): the user, and on purge what the services made.
root="$tmp/root"
mkdir -p "$root/etc"
ln -s usr/lib "$root/lib"
export DPKG_ROOT="$root"
maint postinst configure || fail "postinst configure failed"
grep -q "^_tarvik:x:[0-9]*:[0-9]*:[^:]*:/nonexistent:/usr/sbin/nologin$" "$root/etc/passwd" ||
    fail "postinst made no _tarvik user: $(cat "$root/etc/passwd")"
grep -Eq "^dialout:x:[0-9]+:(.*,)?_tarvik(,.*)?$" "$root/etc/group" || fail "_tarvik not in dialout"
# What an administrator and the services leave: an enabled instance of each,
# a configuration, the history files.
wants="$root/etc/systemd/system/multi-user.target.wants"
mkdir -p "$wants" "$root/etc/tarvik" "$root/var/lib/tarvik/publicar-loja1" \
    "$root/var/lib/private/tarvik/ttyUSB0"
ln -s /lib/systemd/system/tarvik-publicar@.service "$wants/tarvik-publicar@loja1.service"
ln -s /lib/systemd/system/tarvik-registrar@.service "$wants/tarvik-registrar@ttyUSB0.service"
ln -s /lib/systemd/system/getty@.service "$wants/getty@tty1.service"
echo "PORTA=/dev/ttyUSB0" >"$root/etc/tarvik/publicar-loja1.conf"
touch "$root/var/lib/tarvik/publicar-loja1/historico.sqlite" \
    "$root/var/lib/private/tarvik/ttyUSB0/historico.sqlite"
maint prerm remove || fail "prerm remove failed"
maint postrm remove || fail "postrm remove failed"
[ -L "$wants/tarvik-publicar@loja1.service" ] || fail "removal took an instance's link"
[ -e "$root/var/lib/tarvik/publicar-loja1/historico.sqlite" ] || fail "removal took a history"
maint postrm purge 2>"$tmp/out" || fail "postrm purge failed"
for gone in "$wants/tarvik-publicar@loja1.service" "$wants/tarvik-registrar@ttyUSB0.service" \
    "$root/var/lib/tarvik" "$root/var/lib/private/tarvik" \
    "$root/etc/systemd/system/tarvik-publicar@.service"; do
    [ ! -e "$gone" ] && [ ! -L "$gone" ] || fail "purge left $gone"
done
[ -L "$wants/getty@tty1.service" ] || fail "purge took another package's link"
[ -s "$root/etc/tarvik/publicar-loja1.conf" ] || fail "purge took the administrator's file"
grep -q "/etc/tarvik" "$tmp/out" || fail "purge kept /etc/tarvik without a word"
rm "$root/etc/tarvik/publicar-loja1.conf"
maint postrm purge || fail "a second purge failed"
[ ! -e "$root/etc/tarvik" ] || fail "purge left an empty /etc/tarvik"
grep -q "^_tarvik:" "$root/etc/passwd" || fail "purge removed the _tarvik user"
unset DPKG_ROOT

# Then on a running systemd, with every command that would change this
# machine replaced by one that writes down its arguments, in a mount
# namespace whose /run carries systemd's mark. Never a purge here: it
# removes folders of the real root.
stub="$tmp/stub"
mkdir -p "$stub"
for cmd in systemctl deb-systemd-invoke deb-systemd-helper systemd-sysusers; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$cmd" "$tmp/calls" >"$stub/$cmd"
    chmod +x "$stub/$cmd"
done
booted() {
    unshare $1 sh -c 'mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system && shift &&
        exec "$@"' sh "$@"
}
ns=""
for try in "-m" "-rm"; do
    if booted "$try" true 2>/dev/null; then
        ns=$try
        break
    fi
done
if [ -n "$ns" ]; then
    for step in "prerm remove" "postrm remove" "postinst configure 1.0"; do
        : >"$tmp/calls"
        booted "$ns" env PATH="$stub:$PATH" DPKG_MAINTSCRIPT_PACKAGE=tarvik \
            DPKG_MAINTSCRIPT_NAME="${step%% *}" sh "$pkg/${step%% *}" ${step#* } ||
            fail "$step failed"
        case $step in
        prerm*) want="deb-systemd-invoke stop tarvik-publicar@*.service tarvik-registrar@*.service" ;;
        postrm*) want="systemctl --system daemon-reload" ;;
        postinst*) want="deb-systemd-invoke try-restart tarvik-publicar@*.service tarvik-registrar@*.service" ;;
        esac
        grep -qxF "$want" "$tmp/calls" || fail "$step did not run '$want': $(cat "$tmp/calls")"
    done
else
    echo "not checked: the scripts' calls on a running systemd (no mount namespace)"
fi

# The simulator installed starts and offers its port.
"$bin/ondrel-sim" --port-file "$tmp/sim-port" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 200); do [ -s "$tmp/sim-port" ] && break; sleep 0.05; done
[ -s "$tmp/sim-port" ] || fail "the installed ondrel-sim did not start"
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=""

mkdir -p "$tmp/home" "$tmp/work"
config="$tmp/home/config"
data="$tmp/home/data"
# Runs the installed program until its window is shown, from $tmp/work.
start() {
    (cd "$tmp/work" && env HOME="$tmp/home" XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$data" \
        QT_QPA_PLATFORM=offscreen "$@" "$bin/tarvik" --check-start) >"$tmp/out" 2>&1 ||
        fail "tarvik --check-start failed: $(cat "$tmp/out")"
    # The styles are compiled in: the default one is applied wherever it runs.
    grep -Eq "^style: Transparente, style sheet of [1-9][0-9]* characters$" "$tmp/out" ||
        fail "no style applied: $(cat "$tmp/out")"
}

# A writable folder: a portable copy keeps its settings beside itself.
start
[ -s "$bin/tarvik.ini" ] || fail "settings not beside a writable executable"
[ ! -e "$config/tarvik" ] || fail "a portable copy wrote the user's configuration folder"
rm "$bin/tarvik.ini"

# A read-only folder. The mode bits do not bind root, so for root the folder
# is bound read-only onto itself in a private mount namespace: the program
# then meets the same refusal (access() W_OK) any user meets.
chmod a-w "$bin"
readonly_run=()
if [ -w "$bin" ]; then
    ro='mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"'
    for ns in "unshare -m" "unshare -rm"; do
        if $ns sh -c "$ro" sh "$bin" true 2>/dev/null; then
            readonly_run=($ns sh -c "$ro" sh "$bin")
            break
        fi
    done
    if [ ${#readonly_run[@]} -eq 0 ]; then
        echo "SKIP: cannot make $bin read-only for root here (no mount namespace)"
        exit 77
    fi
fi

start "${readonly_run[@]}"
ini="$config/tarvik/tarvik.ini"
[ -s "$ini" ] || fail "settings not written to the user's configuration folder"
grep -q "^TIMEOUT=3" "$ini" || fail "settings file incomplete: $(cat "$ini")"
[ ! -e "$bin/tarvik.ini" ] || fail "settings written beside a read-only executable"
grep -q "^settings file: $ini$" "$tmp/out" || fail "reported settings file: $(cat "$tmp/out")"

# With the logs switched on, all three go to the user's data folder.
sed -i 's/^SAVE_LOG=0/SAVE_LOG=1/' "$ini"
start "${readonly_run[@]}"
for log in tarvik.log commands.log modbus.log; do
    [ -s "$data/tarvik/$log" ] || fail "$log not in the user's data folder"
done
[ -z "$(ls -A "$tmp/work")" ] || fail "files left in the current directory: $(ls -A "$tmp/work")"
echo "install checked in $usr"
