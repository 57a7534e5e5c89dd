#!/usr/bin/env bash
# Signs the installer with a throwaway self-signed certificate through the
# build's signing step and checks that:
#   - the signature and the image digest verify (only the root is untrusted);
#   - the PKCS#12 password appears in no build log and no file of the build tree;
#   - the signed image differs from the unsigned one only by the signature, and
#     carries the version information and the mitigations the image tests read;
#   - the PEM certificate/key route and a wrong password behave;
#   - the signed installer still installs under Wine.
#
#   signing.sh <source dir> <running build dir> <work dir> <driver.exe> <planted lz32.dll>
#              <static_lz_probe.exe> <app.executable.exe> [configure args...]
# The last three are those of tests/e2e, whose first_install scenario runs the
# signed installer (in the running build's Wine prefix and package files).
set -euo pipefail

src=$(cd "$1" && pwd)
outer=$(cd "$2" && pwd)
work=$3
driver=$4 planted=$5 probe=$6 image_tests=$7
shift 7
extra=("$@")

fail() { printf 'signing: FAIL: %s\n' "$*" >&2; exit 1; }
say() { printf 'signing: %s\n' "$*"; }

rm -rf "$work"
mkdir -p "$work/keys"
work=$(cd "$work" && pwd)
chmod 700 "$work/keys"
keys=$work/keys
tree=$work/build
start=$SECONDS

# --- A throwaway code-signing certificate, also as a password-protected PKCS#12.
unset SOURCE_DATE_EPOCH
ZORVIK_SIGN_PASSWORD="pw-$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')"
export ZORVIK_SIGN_PASSWORD
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Zorvik Test Signer" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" >/dev/null 2>&1 || fail "openssl req failed"
openssl pkcs12 -export -in "$keys/cert.pem" -inkey "$keys/key.pem" -name "Zorvik Test Signer" \
  -passout env:ZORVIK_SIGN_PASSWORD -out "$keys/signer.p12" || fail "openssl pkcs12 failed"

# --- The same build folder, first unsigned, then signed through the cache variables.
configure=(cmake -S "$src" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake"
           -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${extra[@]}")
exe=$tree/app/ZorvikSetup.exe
log=$work/build.log
{ env -u ZORVIK_SIGN_PASSWORD "${configure[@]}" &&
  env -u ZORVIK_SIGN_PASSWORD cmake --build "$tree" -j2 --target ZorvikSetup; } >"$work/unsigned.log" 2>&1 ||
  { tail -30 "$work/unsigned.log" >&2; fail "unsigned build failed"; }
cp "$exe" "$work/unsigned.exe"
rm -f "$exe"
# Verbose, so that the log holds every command line the signing step ran.
{ "${configure[@]}" -DZORVIK_SIGN_PKCS12="$keys/signer.p12" &&
  cmake --build "$tree" -j2 --target ZorvikSetup --verbose; } >"$log" 2>&1 ||
  { tail -30 "$log" >&2; fail "signed build failed"; }
grep -q 'Signed ZorvikSetup.exe' "$log" || fail "the build did not run the signing step (app/CMakeLists.txt must call zorvik_sign_target(ZorvikSetup))"
cp "$exe" "$work/signed.exe"
say "builds took $((SECONDS - start))s"

# --- The password is nowhere in the logs or the build tree.
for f in "$log" "$work/unsigned.log"; do
  ! grep -qF "$ZORVIK_SIGN_PASSWORD" "$f" || fail "the password appears in $f"
done
! grep -rqF "$ZORVIK_SIGN_PASSWORD" "$tree" || fail "the password appears in the build tree: $(grep -rlF "$ZORVIK_SIGN_PASSWORD" "$tree" | head -3)"
! ls "${TMPDIR:-/tmp}"/zorvik-sign-* >/dev/null 2>&1 || fail "a password file was left behind"
say "password absent from the build log, the cache and the build tree"

# --- The signature. Default trust store: the digest verifies, only the
# self-signed root fails. With our certificate as the trust anchor: all verifies.
check_digest() {
  local out=$1 cur calc
  cur=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' "$out")
  calc=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$out")
  [ -n "$cur" ] && [ "$cur" = "$calc" ] || fail "image digest mismatch ($cur vs $calc), see $out"
  grep -q '^Message digest algorithm *: *SHA256' "$out" || fail "not a SHA-256 signature, see $out"
  grep -q 'Text description: Zorvik Setup' "$out" || fail "description missing, see $out"
  grep -q 'Subject: /CN=Zorvik Test Signer' "$out" || fail "signer missing, see $out"
}
v1=$work/verify-default.txt
if osslsigncode verify -in "$work/signed.exe" >"$v1" 2>&1; then
  fail "a self-signed certificate verified against the system trust store"
fi
check_digest "$v1"
grep -qE 'self[- ]signed certificate' "$v1" || fail "the untrusted root was not reported, see $v1"
if grep -E '^[[:space:]]*Error:' "$v1" | grep -qvE 'self[- ]signed certificate'; then
  fail "verification failed for a reason other than the untrusted root, see $v1"
fi
v2=$work/verify-trusted.txt
osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/signed.exe" >"$v2" 2>&1 ||
  { cat "$v2" >&2; fail "verification with the test root failed"; }
check_digest "$v2"
grep -q '^Signature verification: ok' "$v2" || fail "signature not ok, see $v2"
say "signature verified (digest $(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' "$v2"))"

# --- Only the signature differs: with it removed, the image is the unsigned one,
# apart from the PE checksum and the zero padding to 8 bytes that signing adds.
osslsigncode remove-signature -in "$work/signed.exe" -out "$work/stripped.exe" >/dev/null 2>&1 ||
  fail "remove-signature failed"
size=$(stat -c %s "$work/unsigned.exe")
ssize=$(stat -c %s "$work/stripped.exe")
pe=$(od -An -tu4 -j60 -N4 "$work/unsigned.exe" | tr -d ' ')
sum_at=$((pe + 88))   # PE checksum, 0-based
bad=$(cmp -l "$work/unsigned.exe" "$work/stripped.exe" 2>/dev/null |
  awk -v lo=$((sum_at + 1)) -v hi=$((sum_at + 4)) '$1 < lo || $1 > hi' | head -5 || true)
[ -z "$bad" ] || fail "signed and unsigned images differ outside the signature: $bad"
pad=$((ssize - size))
[ $pad -ge 0 ] && [ $pad -lt 8 ] || fail "unexpected size change $size -> $ssize"
[ $pad -eq 0 ] || [ -z "$(tail -c $pad "$work/stripped.exe" | tr -d '\0')" ] || fail "padding is not zeros"
if [ $pad -eq 0 ]; then
  cmp -s "$work/unsigned.exe" "$work/stripped.exe" || fail "checksum differs after removing the signature"
  say "signature removed: byte-identical to the unsigned build"
else
  say "signature removed: identical to the unsigned build but for $pad padding bytes and the checksum"
fi
say "unsigned sha256 $(sha256sum <"$work/unsigned.exe" | cut -d' ' -f1)"
say "signed   sha256 $(sha256sum <"$work/signed.exe" | cut -d' ' -f1)"

# --- The PEM route, a fixed signing date, and a wrong password (the signing
# script run directly, as the post-build step runs it).
script=$src/cmake/Signing.cmake
for n in 1 2; do
  cp "$work/unsigned.exe" "$work/pem$n.exe"
  SOURCE_DATE_EPOCH=1700000000 cmake -DSIGN_FILE="$work/pem$n.exe" -DSIGN_CERT="$keys/cert.pem" \
    -DSIGN_KEY="$keys/key.pem" "-DSIGN_DESCRIPTION=Zorvik Setup" -P "$script" >/dev/null || fail "PEM signing failed"
done
osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/pem1.exe" >"$work/verify-pem.txt" 2>&1 ||
  fail "PEM-signed file does not verify, see $work/verify-pem.txt"
grep -q 'Signing time: Nov 14 22:13:20 2023 GMT' "$work/verify-pem.txt" ||
  fail "SOURCE_DATE_EPOCH was not used as the signing time"
cmp -s "$work/pem1.exe" "$work/pem2.exe" || fail "signing twice with a fixed date gave different files"
cp "$work/unsigned.exe" "$work/wrong.exe"
if ZORVIK_SIGN_PASSWORD=not-the-password cmake -DSIGN_FILE="$work/wrong.exe" \
     -DSIGN_PKCS12="$keys/signer.p12" "-DSIGN_DESCRIPTION=Zorvik Setup" -P "$script" >"$work/wrong.log" 2>&1; then
  fail "signing with a wrong password succeeded"
fi
[ ! -e "$work/wrong.exe" ] || fail "a failed signing left the unsigned file (the next build would not retry)"
say "PEM route verifies, fixed-date signatures are identical, a wrong password fails the build"

# --- The signed image as the image tests read it: version, flags, load configuration.
(cd "$outer" && ZORVIK_SETUP_IMAGE=$work/signed.exe bash "$src/tests/support/wine-run.sh" "$image_tests" \
   --gtest_filter='ExecutableFile.*') || fail "the signed image fails the image tests"
say "signed image: version information and mitigations as built"

# --- The signed installer's default installation, end to end under Wine.
e2e=$src/tests/e2e/run.sh
if [ -f "$driver" ] && [ -f "$e2e" ]; then
  (cd "$outer" && bash "$e2e" first_install "$outer" "$work/signed.exe" "$driver" "$planted" "$probe") ||
    fail "the signed installer's default installation failed"
  say "signed installer: default installation passed"
else
  fail "no end-to-end driver (tests/e2e) to run the signed installer with"
fi
say "OK in $((SECONDS - start))s"
