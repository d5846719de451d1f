#!/usr/bin/env bash
# Checks tools/install-deps.sh and tools/setup.sh against stand-in package tools (nothing is
# installed): apt waits for a held lock with the configured timeout, and a failure names its step.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/bin"
cat >"$fake/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
exit 1
STUB
cat >"$fake/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$APT_LOG"
for a in "$@"; do
  [ "$a" = "${FAIL_AT:-none}" ] && exit 100
done
exit 0
STUB
cat >"$fake/bin/sudo" <<'STUB'
#!/usr/bin/env bash
exec "$@"
STUB
chmod +x "$fake/bin/"*
export PATH="$fake/bin:$PATH" APT_LOG="$fake/apt.log"

failures=0
check() {
  if eval "$2"; then echo "ok: $1"; else
    echo "FAILED: $1" >&2
    failures=$((failures + 1))
  fi
}

: >"$APT_LOG"
bash "$root/tools/install-deps.sh" 2>"$fake/err"
check "install-deps succeeds with working package tools" "[ $? -eq 0 ]"
check "update and both installs wait for the lock for 600 s" \
  "[ \$(grep -c 'DPkg::Lock::Timeout=600' '$APT_LOG') -eq 3 ] && grep -q ' update' '$APT_LOG' && grep -q ' install' '$APT_LOG'"
check "the window manager comes without its recommends" "grep -q 'install.*--no-install-recommends openbox' '$APT_LOG'"

: >"$APT_LOG"
APT_LOCK_TIMEOUT=5 FAIL_AT=install bash "$root/tools/install-deps.sh" 2>"$fake/err"
code=$?
check "a failed install ends the script with apt's status" "[ $code -eq 100 ]"
check "the message names the install step and the timeout" \
  "grep -q 'failed while installing .*(apt-get install)' '$fake/err' && grep -q 'longer than 5 s' '$fake/err'"
check "the configured timeout is passed" "grep -q 'DPkg::Lock::Timeout=5' '$APT_LOG'"

APT_LOCK_TIMEOUT=soon bash "$root/tools/install-deps.sh" 2>"$fake/err"
code=$?
check "a timeout that is not a number is refused" "[ $code -eq 2 ] && grep -q 'APT_LOCK_TIMEOUT' '$fake/err'"

(cd "$fake" && FAIL_AT=update bash "$root/tools/setup.sh" >/dev/null 2>"$fake/err")
code=$?
check "setup.sh stops at a failed package update" "[ $code -eq 100 ]"
check "setup.sh names the failed step" \
  "grep -q 'refreshing the package lists' '$fake/err' && grep -q 'setup.sh: failed while installing the build dependencies' '$fake/err'"

[ "$failures" -eq 0 ]
