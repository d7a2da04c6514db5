#!/usr/bin/env bash
# Makes the Debian package and checks it as its users meet it:
#  - cpack builds it from a release build without tests, in build-package/;
#  - unpacked into a temporary root, its desktop entry and AppStream metadata validate, and
#    nothing lies beside the installed program but the program and girl.gif;
#  - a user made for the check, with a fresh home, starts the unpacked program on a private
#    display and saves an appointment with the keyboard: it must land in that user's
#    ~/.local/share/meridocal/sec.mdb, readable by them alone, and no installed file changes;
#  - run as root, the package also installs with apt-get and is purged again, leaving no file
#    of ours under /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --package-tools

build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMERIDOCAL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/meridocal_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$PWD/$build"/meridocal_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends

id=io.github.meridocal.Meridocal
user=meridocal-check
work=$(mktemp -d)
chmod 755 "$work" # the user made for the check must reach the unpacked program
cleanup() {
  [ "$(id -u)" -ne 0 ] || userdel --remove "$user" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"

echo "== metadata"
desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
beside=$(ls -A "$root/usr/lib/meridocal" | tr '\n' ' ')
[ "$beside" = "girl.gif meridocal " ] || { echo "beside the program: $beside" >&2; exit 1; }
snapshot() { (cd "$root" && find . -printf '%y %m %u %p %l\n' && find . -type f -exec sha256sum {} +) | sort; }
snapshot >"$work/before"

echo "== a new user saves an appointment with the unpacked program"
if [ "$(id -u)" -eq 0 ]; then
  userdel --remove "$user" 2>/dev/null || true # left by a check that was cut short
  useradd --create-home --home-dir "$work/home" --shell /bin/bash "$user"
  as_user=(runuser -u "$user" --)
else # without root, the same with a fresh home of one's own
  user=$(id -un)
  mkdir -m 700 "$work/home"
  as_user=()
fi
cat >"$work/session.sh" <<'SESSION'
# As the new user: a private display with a window manager, the program started through its
# command link, and the keys a person presses to save one appointment and quit. Each step says
# what it waits for, so a failed check names the step that did not happen.
set -euo pipefail
root=$1
cd
pids=()
trap 'status=$?; kill "${pids[@]}" 2>/dev/null; [ $status -eq 0 ] || cat app.log >&2' EXIT
step() { echo "-- $*" >&2; }
# wait_for SECONDS COMMAND…: polls instead of trusting one fixed pause on a busy machine.
wait_for() {
  local tries=$(($1 * 10)); shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
step "private display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display 2>xvfb.log &
pids+=($!)
wait_for 10 test -s display
export DISPLAY=":$(head -1 display)"
# Keys sent before the window manager runs can reach no window; openbox runs its start-up
# command once it manages the screen.
step "window manager"
openbox --startup "touch $PWD/wm-ready" >/dev/null 2>&1 &
pids+=($!)
wait_for 30 test -e wm-ready
step "main window"
"$root/usr/bin/meridocal" >app.log 2>&1 &
app=$!
pids+=($app)
# The window class is the desktop entry's StartupWMClass.
wait_for 60 xdotool search --onlyvisible --class '^MERIDOCAL$'
main=$(xdotool search --onlyvisible --class '^MERIDOCAL$' | head -1)
# Ctrl+S opens the entry form; a key that arrives before the window has the focus is lost,
# so it is pressed again until the form shows.
step "entry form"
form_open() { xdotool search --onlyvisible --name '^予定設定$'; }
for _ in $(seq 6); do
  xdotool windowactivate --sync "$main" key ctrl+s
  wait_for 5 form_open && break
done
form_open >/dev/null
# Tab reaches the subject; each Enter walks to the place, the notice and the save button, and
# presses it.
xdotool key Tab
xdotool type 'e2e check'
xdotool key Return Return Return Return
# The form stays open, emptied, with the focus on the subject: Tab four times reaches the
# close button. Then the menu's exit command.
step "closing the form"
xdotool key Tab Tab Tab Tab Return
wait_for 10 eval '! form_open' || { echo "the form did not close" >&2; exit 1; }
step "quitting"
xdotool windowactivate --sync "$main" key alt+m x
wait_for 10 eval '! kill -0 $app' || { echo "the program did not quit" >&2; exit 1; }
SESSION
# A desktop session has a session bus of its own; without one the program would go through
# libdbus's autolaunch, which no user's desktop does.
"${as_user[@]}" env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  dbus-run-session -- bash "$work/session.sh" "$root"

data=$work/home/.local/share/meridocal
saved=$(sqlite3 "$data/sec.mdb" "SELECT P_DETAIL FROM PLAN_DAT")
[ "$saved" = "e2e check" ] || { echo "stored: '$saved'" >&2; exit 1; }
modes=$(stat -c '%U %a' "$data" "$data/sec.mdb" | tr '\n' ' ')
[ "$modes" = "$user 700 $user 600 " ] || { echo "modes: $modes" >&2; exit 1; }
snapshot | diff "$work/before" - || { echo "the installed files changed" >&2; exit 1; }
echo "saved in $data/sec.mdb; installed files unchanged"

if [ "$(id -u)" -eq 0 ]; then
  echo "== apt-get install, remove --purge"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "$deb" >/dev/null
  [ -x /usr/lib/meridocal/meridocal ] && [ -x /usr/bin/meridocal ] && [ -f /usr/share/meridocal/sec.mdb ]
  apt-get remove --purge -y -qq meridocal >/dev/null
  left=$(find /usr -name '*meridocal*')
  [ -z "$left" ] || { echo "left after removal: $left" >&2; exit 1; }
  echo "installed and removed cleanly"
fi
