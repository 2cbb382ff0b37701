#!/usr/bin/env bash
# Runs the uninstaller's privileged phase on a fake installation of ORVIK Tandro Riravor
# Software inside a throwaway isolated root, and shows the tree before and after and the
# system log it wrote.
#
#   tools/demo.sh BINARY        (./dev.sh demo runs it with build/bin/orvik-uninstaller)
#
# The isolated root: new mount and PID namespaces, an overlay of / whose changes go to a
# tmpfs, private /proc, /sys and /dev, chroot. Nothing outside it is touched. It needs root,
# unshare(1), overlayfs and socat(1) (which listens on the root's /dev/log).
set -euo pipefail

APP="/Applications/ORVIK Tandro Riravor"

die() {
  echo "demo: $*" >&2
  exit 1
}

if [ "${1:-}" != "--inside" ]; then
  binary=${1:?usage: tools/demo.sh BINARY}
  [ -x "$binary" ] || die "$binary is not an executable program"
  binary=$(readlink -f "$binary")
  [ "$(id -u)" -eq 0 ] ||
    die "the demo needs root: it builds a throwaway root file system with mount namespaces and overlayfs. Run it as root (sudo ./dev.sh demo)."
  command -v unshare >/dev/null || die "unshare(1) is missing (package util-linux)"
  command -v socat >/dev/null || die "socat(1) is missing (package socat); it captures the system log"
  unshare --mount --pid --fork --mount-proc true 2>/dev/null ||
    die "mount and PID namespaces are not available here (unshare failed), so no isolated root can be made"
  top=$(mktemp -d /tmp/orvik-demo.XXXXXX)
  set +e
  unshare --mount --pid --fork --mount-proc "$0" --inside "$binary" "$top"
  status=$?
  rmdir "$top" 2>/dev/null # its tmpfs lived only in the namespace
  exit $status
fi

# ---- inside the new namespaces: this shell is PID 1 and reaps every orphan ----
binary=$2
top=$3
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs "$top"
mkdir "$top/upper" "$top/work" "$top/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$top/upper,workdir=$top/work" "$top/root" ||
  die "an overlay of / cannot be mounted here"
root=$top/root
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys" 2>/dev/null || mount --rbind /sys "$root/sys"
mount -t tmpfs -o mode=0755,nosuid tmpfs "$root/dev"
for node in "null 1 3" "zero 1 5" "random 1 8" "urandom 1 9" "tty 5 0"; do
  set -- $node
  mknod -m 0666 "$root/dev/$1" c "$2" "$3"
done
mkdir "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mount -t tmpfs -o mode=0755 tmpfs "$root/run"

inroot() { chroot "$root" /bin/sh -c "cd / && $1"; }

# The uninstaller with its translations, as installed in the product's Uninstall Tools.
tools="$APP/Uninstall Tools"
mkdir -p "$root$tools/bin"
cp "$binary" "$root$tools/bin/orvik-uninstaller"
[ -d "$(dirname "$binary")/../share" ] && cp -r "$(dirname "$binary")/../share" "$root$tools/share"

# ---- a fake installation ----
mkdir -p "$root$APP/ORVIK Tandro.app/Contents/MacOS" "$root$APP/ORVIK Tandro.app/Contents/Resources/en.lproj" \
  "$root$APP/Helpers" "$root$APP/Documentation/Guides/Advanced"
cp /bin/sleep "$root$APP/ORVIK Tandro.app/Contents/MacOS/ORVIK Tandro"
cp /bin/sleep "$root$APP/Helpers/TandroAgent"
echo "strings" >"$root$APP/ORVIK Tandro.app/Contents/Resources/en.lproj/Localizable.strings"
echo "guide" >"$root$APP/Documentation/Guides/Advanced/filters.html"
echo "read me" >"$root$APP/Read Me.txt"
chmod 0444 "$root$APP/Read Me.txt" "$root$APP/Documentation/Guides/Advanced/filters.html"
mkdir -p "$root/srv/shared-data" && echo "not the product's" >"$root/srv/shared-data/keep.txt"
ln -s /srv/shared-data "$root$APP/Documentation/Shared Data"
mkdir -p "$root/Library/Receipts/ORVIK Tandro Riravor.pkg/Contents" \
  "$root/System/Library/Extensions/PacketSieve.kext/Contents" \
  "$root/Library/StartupItems/ORVIKTandroNetFilter" "$root/Library/Preferences"
echo "bom" >"$root/Library/Receipts/ORVIK Tandro Riravor.pkg/Contents/Archive.bom"
echo "kext" >"$root/System/Library/Extensions/PacketSieve.kext/Contents/Info.plist"
echo "#!/bin/sh" >"$root/Library/StartupItems/ORVIKTandroNetFilter/ORVIKTandroNetFilter"
for f in com.orvikware.orviktandro.StudentSettings com.orvikware.ORVIKTandro com.orvikware.orviktandro.TandroClient; do
  echo '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict/></plist>' >"$root/Library/Preferences/$f.plist"
done
cat >"$root/Library/Preferences/loginwindow.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>AutoLaunchedApplicationDictionary</key>
	<array>
		<dict><key>Hide</key><false/><key>Path</key><string>/Applications/Mail Helper.app</string></dict>
		<dict><key>Hide</key><true/><key>Path</key><string>$APP/ORVIK Tandro.app</string></dict>
		<dict><key>Hide</key><true/><key>Path</key><string>$APP/Helpers/TandroAgent</string></dict>
	</array>
</dict>
</plist>
EOF

# Running product processes (real programs in the application folder).
chroot "$root" setsid "$APP/ORVIK Tandro.app/Contents/MacOS/ORVIK Tandro" 600 </dev/null >/dev/null 2>&1 &
chroot "$root" setsid "$APP/Helpers/TandroAgent" 600 </dev/null >/dev/null 2>&1 &

# The system log: whatever syslog(3) sends to /dev/log inside the root.
socat -u "UNIX-RECV:$root/dev/log,mode=666" "OPEN:$top/syslog,creat,append" &
socat_pid=$!
for _ in $(seq 50); do [ -S "$root/dev/log" ] && break; sleep 0.1; done
sleep 0.3

show_tree() {
  (cd "$root" && (find "./${APP#/}" ./Library/Receipts ./Library/StartupItems ./Library/Preferences \
    ./System/Library/Extensions ./srv/shared-data 2>/dev/null || true) | sed 's|^\./|/|' | sort |
    while IFS= read -r p; do
      if [ -L "$root$p" ]; then echo "  $p -> $(readlink "$root$p")"; else echo "  $p"; fi
    done)
}
show_processes() {
  inroot "ps -axww -o pid=,args=" | grep -F "$APP" | grep -v -e 'ps -axww' -e grep | sed 's/^/  /' || echo "  (none)"
}

echo "== Fake installation before the run"
show_tree
echo
echo "== Product processes before the run"
show_processes
echo
echo "== Login items before the run"
grep -o '<string>[^<]*</string>' "$root/Library/Preferences/loginwindow.plist" | sed 's/<[^>]*>//g; s/^/  /'
echo
echo "== Running: $tools/bin/orvik-uninstaller -reallyuninstall -silent   (as root, from /)"
set +e
chroot "$root" setsid -w /bin/sh -c "cd / && exec \"$tools/bin/orvik-uninstaller\" -reallyuninstall -silent" \
  </dev/null >"$top/output" 2>&1
status=$?
set -e
echo "   exit status: $status"
sleep 0.3
kill "$socat_pid" 2>/dev/null || true
wait "$socat_pid" 2>/dev/null || true
echo
echo "== System log (priority, text), as captured on /dev/log"
# Each datagram is "<PRI>Mmm dd hh:mm:ss ident: text"; a text's own newlines are shown as \n.
perl -0777 -ne '
  while (/<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d ([^:]+): (.*?)(?=<\d+>\w{3} [ \d]\d \d\d:\d\d:\d\d |\z)/sg) {
    my ($p, $t) = ($1 % 8, $3);
    $t =~ s/\n/\\n/g;
    printf "  %-7s %s\n", ($p == 4 ? "warning" : $p == 5 ? "notice" : $p), $t;
  }' "$top/syslog"
if [ -s "$top/output" ]; then
  echo
  echo "== Output of the program (there is no pkgutil on Linux; its fixed command still runs)"
  sed 's/^/  /' "$top/output"
fi
echo
echo "== After the run"
show_tree
echo
echo "== Product processes after the run"
show_processes
echo
echo "== Login items after the run"
grep -o '<string>[^<]*</string>' "$root/Library/Preferences/loginwindow.plist" | sed 's/<[^>]*>//g; s/^/  /'
echo
echo "(everything above happened in a throwaway root; the host's folders were not touched)"
exit "$status"
