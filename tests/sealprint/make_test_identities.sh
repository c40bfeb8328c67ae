#!/bin/sh
# Makes the signing identities of the signature tests in folder $1, with the openssl command:
#   root.pem              a test root CA (the only certificate a verifier is given)
#   chain.pem             an intermediate CA under it, which issues the report certificates
#   report.key            an RSA key, and for it:
#   report.crt            valid from now for 30 days
#   expired.crt           valid only in 2020
#   future.crt            valid only from 2099
#   other.key             a second RSA key, which none of the certificates belongs to
#   ec.key, ec.crt        an EC key with a self-signed certificate of its own
# Private keys are made at run time only; none is ever kept in the repository.
set -eu
cd "$1"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 \
  -subj "/O=Test Lab/CN=Test Lab Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet openssl req -newkey rsa:2048 -nodes -keyout chain.key -out chain.csr \
  -subj "/O=Test Lab/CN=Test Lab Signing CA"
printf 'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n' >ca.ext
quiet openssl x509 -req -in chain.csr -CA root.pem -CAkey root.key -set_serial 2 -days 30 \
  -extfile ca.ext -out chain.pem

quiet openssl req -newkey rsa:2048 -nodes -keyout report.key -out report.csr -utf8 \
  -subj "/O=Test Lab/CN=Quality Assurance Test"
quiet openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out other.key
printf 'keyUsage=critical,digitalSignature,nonRepudiation\n' >leaf.ext
# "openssl ca" is the one that takes any start and end date.
cat >ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
: >index.txt
echo 10 >serial
issue() {
  quiet openssl ca -batch -config ca.cnf -notext -preserveDN -cert chain.pem -keyfile chain.key \
    -extfile leaf.ext -in report.csr -out "$1" -startdate "$2" -enddate "$3"
}
now=$(date -u +%Y%m%d%H%M%SZ)
later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
issue report.crt "$now" "$later"
issue expired.crt 20200101000000Z 20210101000000Z
issue future.crt 20990101000000Z 20991231000000Z

quiet openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.key \
  -out ec.crt -days 30 -subj "/O=Test Lab/CN=EC Test" -addext "keyUsage=critical,digitalSignature"
