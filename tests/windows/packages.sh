#!/usr/bin/env bash
# The Windows packages of the built 32-bit tree (build-mingw), made with a throwaway
# code-signing certificate: their signatures verify and a changed byte breaks them, the MSI's
# tables, the same sources make the same MSI, and the MSI installed, upgraded, refused as a
# downgrade and removed under Wine (msi_install.sh, through scripts/win32-machine).
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
build="build-mingw"
work="$(mktemp -d "$PWD/$build/packages-test.XXXXXX")"  # the emulated machine sees the checkout only
trap 'rm -rf "$work"' EXIT
failed=0
expect() {  # DESCRIPTION COMMAND...
  "${@:2}" >/dev/null 2>&1 || { failed=$((failed + 1)); echo "packages: FAILED: $1"; }
}
verifies() { osslsigncode verify -CAfile "$work/ca.pem" -in "$1"; }
fails_to_verify() { ! verifies "$1"; }
table() { msiinfo export "$1" "$2" | tr -d '\r'; }
property() { table "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }

# A throwaway CA and a code-signing certificate that it issued, for this run only.
(
  cd "$work" &&
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign &&
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Throwaway signer" &&
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out signer.pem &&
  openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -passout pass:throwaway \
    -out signer.p12
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; exit 1; }

started=$SECONDS
VOK_SIGN_PKCS12="$work/signer.p12" VOK_SIGN_PASSWORD=throwaway \
  packaging/windows/package "$build" "$work/out" >"$work/package.log" 2>&1 || cat "$work/package.log"
expect "the packages are made, signed" grep -q '^package: signing' "$work/package.log"
msi="$(ls "$work"/out/vantrel-upgrade-*-x86.msi)"
version="$(basename "$msi" -x86.msi)"
version="${version#vantrel-upgrade-}"
mkdir "$work/zip" "$work/msi"
(cd "$work/zip" && cmake -E tar xf "$work/out/vantrel-upgrade-$version-win32.zip" && cd ../msi && msiextract "$msi") >/dev/null
zipped="$work/zip/vantrel-upgrade-$version-win32"
installed="$work/msi/Program Files/Vantrel/Upgrade"
for file in "$zipped/bin/vantrel-upgrade.exe" "$zipped/bin/libvokoem.dll" "$msi" \
    "$installed/vantrel-upgrade.exe" "$installed/libvokoem.dll"; do
  expect "signed: ${file#"$work/"}" verifies "$file"
done
cp "$zipped/bin/vantrel-upgrade.exe" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
expect "a changed byte breaks the signature" fails_to_verify "$work/changed.exe"
expect "the build tree's programs stay unsigned" fails_to_verify "$build/bin/vantrel-upgrade.exe"
cp "$build/bin/libvokoem.dll" "$work/unsigned.dll"
env -u VOK_SIGN_PKCS12 -u VOK_SIGN_PKCS11_URI packaging/windows/sign "$work/unsigned.dll" 2>"$work/sign.log"
expect "without a key nothing is signed" cmp "$build/bin/libvokoem.dll" "$work/unsigned.dll"
expect "without a key it says so" grep -q "no signing key" "$work/sign.log"

IFS=. read -r a b c d <<<"$version"
expect "ProductVersion is a.b.(100*c+d) of the package version" \
  test "$(property "$msi" ProductVersion)" = "$a.$b.$((100 * c + d))"
expect "ProductCode is the one that README-Windows.txt names" grep -q \
  "^ *ProductCode *$(property "$msi" ProductCode)" "$zipped/README-Windows.txt"
expect "UpgradeCode is the package's own" \
  test "$(property "$msi" UpgradeCode)" = "{DBE1BE48-4E4B-44A7-92EF-D115497B595F}"
expect "the entry offers no modify" test "$(property "$msi" ARPNOMODIFY)" = 1
expect "the package is per machine" test "$(property "$msi" ALLUSERS)" = 1
expect "the package is for 32-bit Windows" grep -qx "Template: Intel;1033" <(msiinfo suminfo "$msi")
expect "the package holds the tool, the DLL and the text" test "$(table "$msi" File | tail -n +4 |
  cut -f3 | sort | tr '\n' ' ')" = "README-Windows.txt libvokoem.dll vantrel-upgrade.exe "

mkdir "$work/files"
cp "$installed"/* "$work/files/"
for n in 1 2; do
  SOURCE_DATE_EPOCH=1321271951 packaging/windows/make-msi "$work/files" "$version" "$work/same$n.msi"
done
expect "the same sources make the same MSI" cmp "$work/same1.msi" "$work/same2.msi"
echo "the newer package" >>"$work/files/README-Windows.txt"
packaging/windows/make-msi "$work/files" "$a.$b.$((c + 1)).0" "$work/newer.msi"
echo "packages: made and checked in $((SECONDS - started)) s"

started=$SECONDS
scripts/win32-machine tests/windows/msi_install.sh "$msi" "$(property "$msi" ProductCode)" \
  "$work/newer.msi" "$(property "$work/newer.msi" ProductCode)"
expect "the MSI under Wine" test $? -eq 0
echo "packages: the MSI under Wine in $((SECONDS - started)) s"
echo "packages: $failed failed"
[ "$failed" -eq 0 ]
