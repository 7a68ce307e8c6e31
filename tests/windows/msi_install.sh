#!/usr/bin/env bash
# The MSI in a fresh 32-bit Wine prefix (run it through scripts/win32-machine):
#   msi_install.sh OLDER.msi OLDER_CODE NEWER.msi NEWER_CODE
# installs the older package, the same again, the newer over it, the older over the newer, and
# removes the newer one by its product code. The newer package's README-Windows.txt ends with
# the line "the newer package".
set -uo pipefail
older="$1" older_code="$2" newer="$3" newer_code="$4"
program_files="$WINEPREFIX/drive_c/Program Files"
folder="$program_files/Vantrel/Upgrade"
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vantrel Upgrade'
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
failed=0
expect() {  # DESCRIPTION COMMAND...
  "${@:2}" >/dev/null 2>&1 || { failed=$((failed + 1)); echo "msi: FAILED: $1"; }
}
msiexec() { wine msiexec "$@" /qn /norestart /l*v "$log" >/dev/null 2>&1; }
refused() { ! msiexec "$@"; }
query() { local out; out="$(wine reg query "$1" 2>&1)" && tr -d '\r' <<<"$out"; }  # fails without KEY
entry() { query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"; }
has() { grep -Eq "$2" <<<"$1"; }  # TEXT PATTERN
# CODE GONE_CODE: the three files, CODE's entry and not GONE_CODE's, the event source.
installed() {
  [ -f "$folder/vantrel-upgrade.exe" ] && [ -f "$folder/libvokoem.dll" ] &&
    [ -f "$folder/README-Windows.txt" ] && entry "$1" && ! entry "$2" && query "$event_source"
}
newer_installed() {
  installed "$newer_code" "$older_code" && tail -n 1 "$folder/README-Windows.txt" | grep -q 'the newer package'
}
removed() {
  [ ! -e "$program_files/Vantrel" ] && [ -d "$program_files/Common Files" ] &&
    ! entry "$newer_code" && ! query "$event_source"
}

expect "the package installs" msiexec /i "$older"
expect "its files, its entry and the event source are there" installed "$older_code" "$newer_code"
expect "the installed tool runs" has "$(wine "C:\\Program Files\\Vantrel\\Upgrade\\vantrel-upgrade.exe" \
  --version 2>&1)" '^Vantrel Upgrade version'
expect "the entry names the product" has "$(entry "$older_code")" 'DisplayName +REG_SZ +Vantrel Upgrade$'
expect "the entry names the publisher" has "$(entry "$older_code")" 'Publisher +REG_SZ +VOK$'
expect "the entry offers no modify" has "$(entry "$older_code")" 'NoModify +REG_DWORD +0x1$'
expect "the event source's messages are in the installed tool" has "$(query "$event_source")" \
  'EventMessageFile +REG_(EXPAND_)?SZ +C:\\Program Files\\Vantrel\\Upgrade\\vantrel-upgrade.exe$'
expect "the event source takes errors, warnings and information" has "$(query "$event_source")" \
  'TypesSupported +REG_DWORD +0x7$'
expect "the same package again succeeds" msiexec /i "$older"
expect "the same package again leaves the installation" installed "$older_code" "$newer_code"
expect "the newer package installs over the older" msiexec /i "$newer"
expect "the newer package replaces the older's files and entry" newer_installed
expect "the older package over the newer is refused" refused /i "$older"
expect "the refusal is for the newer version found" grep -aq 'WIX_DOWNGRADE_DETECTED = {' "$log"
expect "the refused package changes nothing" newer_installed
expect "the package is removed by its product code" msiexec /x "$newer_code"
expect "the removal takes the files, the Vantrel folder, the entry and the event source, no more" removed
echo "msi: $failed failed"
[ "$failed" -eq 0 ]
