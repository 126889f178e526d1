#!/usr/bin/env bash
# Makes the certificates of the test HTTPS servers in OUT, and makes the Wine
# prefix trust their CA (tests/fixtures/add_root.c, built in BIN/fixtures).
# All of it is made anew by each test run; the keys never leave the build
# folder. Needs the test runner's Wine session.
#   localhost.pem  "localhost", from the trusted CA
#   self.pem       "localhost", signed by itself
#   other.pem      "other.invalid", from the trusted CA
# Each NAME.pem has its key in NAME.key.
set -euo pipefail
out=$1
bin=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"
cd "$out"

cat >openssl.cnf <<'CNF'
[req]
distinguished_name = subject
[subject]
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
subjectAltName = DNS:${ENV::TLS_NAME}
CNF
quiet() { "$@" >/dev/null 2>&1 || { echo "make_tls: FAIL: $*" >&2; "$@"; exit 1; }; }
server() { # server NAME DNS-NAME [CA]: signed by CA, or by itself without one
  if [ $# -eq 3 ]; then
    TLS_NAME=$2 quiet openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
      -config openssl.cnf
    TLS_NAME=$2 quiet openssl x509 -req -in "$1.csr" -CA "$3.crt" -CAkey "$3.key" \
      -set_serial "0x$(openssl rand -hex 8)" -days 30 -sha256 -extfile openssl.cnf -extensions server -out "$1.pem"
  else
    TLS_NAME=$2 quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 -sha256 \
      -subj "/CN=$2" -config openssl.cnf -extensions server
  fi
}

# Its own subject: add_root keeps one root per subject, and the signer
# tests' CA must stay trusted beside it.
TLS_NAME=unused quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 30 -sha256 \
  -subj "/CN=Tessel TLS Test Root CA" -config openssl.cnf -extensions ca
server localhost localhost ca
server self localhost
server other other.invalid ca

openssl x509 -in ca.crt -outform der -out ca.der
"$root/scripts/wine-run.sh" "$bin/fixtures/add_root.exe" ca.der </dev/null >add_root.out 2>&1 ||
  { echo "make_tls: add_root: $(cat add_root.out)" >&2; exit 1; }
