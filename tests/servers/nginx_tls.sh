#!/bin/bash
# Starts or stops the TLS nginx of the test tier on loopback, serving
# $CV_WWW_DIR like the plain one. A test certificate authority and the
# server certificates are made here with openssl, each server certificate
# on a port of its own:
#   $CV_HTTPS_PORT            "localhost" from the trusted authority, chain sent;
#                             also named "secure.invalid", a name only the
#                             tier's NTLM proxy resolves (to 127.0.0.1)
#   $CV_HTTPS_EXPIRED_PORT    "localhost", expired
#   $CV_HTTPS_WRONG_NAME_PORT for another name
#   $CV_HTTPS_UNTRUSTED_PORT  "localhost" from a second authority, chain sent
#   $CV_HTTPS_LEAF_PORT       "localhost" from the trusted authority, leaf only
#   $CV_HTTPS_UNTRUSTED_LEAF_PORT  from the second authority, leaf only
#   $CV_HTTPS_REDIRECT_PORT   plain http answering every request with a
#                             redirect to the same path on $CV_HTTPS_PORT
#   $CV_HTTPS_REVOKED_PORT    "localhost" from the trusted authority, revoked:
#                             its revocation list, made here, is served by the
#                             plain nginx at the distribution point the
#                             certificate names
#   $CV_HTTPS_CRL_GOOD_PORT   the same distribution point, not revoked
#   $CV_HTTPS_CRL_OFFLINE_PORT  a distribution point where nothing answers
#   $CV_HTTPS_CLIENT_USAGE_PORT "localhost" from the trusted authority, for
#                             client authentication only
# On $CV_HTTPS_PORT, /to-http/NAME redirects to http://localhost:$CV_HTTP_PORT/NAME.
# The trusted authority is trusted only inside the test Wine prefix: this
# script writes $CV_SRV_DIR/tls/trust.reg, which the tier imports there.
# Usage: nginx_tls.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/nginx-tls"
tls="$CV_TLS_DIR"
conf="$dir/nginx.conf"

source "$(dirname "$0")/nginx-common.bash"

# An authority: NAME "COMMON NAME"
make_ca() {
  local try
  for try in $(seq 50); do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -keyout "$tls/$1.key" -out "$tls/$1.pem" -days 30 -subj "/CN=$2" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null ||
      return 1
    full_width "$tls/$1.pem" && return 0
  done
  return 1
}

# Wine's check of an ECDSA signature fails when one of its two numbers is
# shorter than the curve's size, which happens to about one signature in a
# hundred: such a certificate would be refused as badly signed, and a test
# would fail by chance. Windows checks them right; here every signature the
# tier makes is made again until Wine can check it.
full_width() { python3 "$(dirname "${BASH_SOURCE[0]}")/ecdsa_sig.py" "$1"; }

# A server certificate: NAME AUTHORITY DNS-NAMES [START END] (names
# separated by commas, the first also the common name; dates for an expired
# one, YYYYMMDDHHMMSSZ). $LEAF_CRL, when set, is the revocation list's
# distribution point the certificate names; $LEAF_USAGE its extended key
# usage (serverAuth when not set).
make_leaf() {
  local name="$1" ca="$2" dns="${3%%,*}"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\nsubjectAltName=DNS:%s\n' \
    "${LEAF_USAGE:-serverAuth}" "${3//,/,DNS:}" >"$tls/$name.ext"
  [ -n "${LEAF_CRL:-}" ] && printf 'crlDistributionPoints=URI:%s\n' "$LEAF_CRL" >>"$tls/$name.ext"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$tls/$name.key" -out "$tls/$name.csr" -subj "/CN=$dns" 2>/dev/null || return 1
  local try
  for try in $(seq 50); do
    sign_leaf "$@" || return 1
    full_width "$tls/$name.pem" && break
    [ "$try" = 50 ] && return 1
  done
  # The certificate followed by its authority, as most servers send it.
  cat "$tls/$name.pem" "$tls/$ca.pem" >"$tls/$name.chain.pem"
}

sign_leaf() { # as make_leaf, once the request is made
  local name="$1" ca="$2"
  if [ $# -ge 5 ]; then
    # Only "openssl ca" takes explicit dates.
    mkdir -p "$tls/ca-db"; : >"$tls/ca-db/index.txt"; echo 1000 >"$tls/ca-db/serial"
    cat >"$tls/ca-db/ca.cnf" <<CNF
[ ca ]
default_ca = test
[ test ]
database = $tls/ca-db/index.txt
new_certs_dir = $tls/ca-db
serial = $tls/ca-db/serial
default_md = sha256
policy = any
[ any ]
commonName = supplied
CNF
    openssl ca -batch -config "$tls/ca-db/ca.cnf" -cert "$tls/$ca.pem" -keyfile "$tls/$ca.key" \
      -in "$tls/$name.csr" -out "$tls/$name.pem" -startdate "$4" -enddate "$5" \
      -extfile "$tls/$name.ext" -notext 2>/dev/null || return 1
  else
    openssl x509 -req -in "$tls/$name.csr" -CA "$tls/$ca.pem" -CAkey "$tls/$ca.key" -CAcreateserial \
      -days 30 -sha256 -extfile "$tls/$name.ext" -out "$tls/$name.pem" 2>/dev/null || return 1
  fi
}

gen_crl() { # database folder
  local try
  for try in $(seq 50); do
    openssl ca -config "$1/ca.cnf" -cert "$tls/ca.pem" -keyfile "$tls/ca.key" -gencrl -out "$tls/ca.crl.pem" \
      2>/dev/null || return 1
    full_width "$tls/ca.crl.pem" && return 0
  done
  return 1
}

# The trusted authority's revocation list, revoking the leaf NAME, in DER
# form under the web root at the path PATH.
make_crl() {
  local db="$tls/crl-db"
  rm -rf "$CV_WWW_DIR/tls-crl"
  mkdir -p "$db" "$(dirname "$CV_WWW_DIR/$2")"; : >"$db/index.txt"; echo 01 >"$db/crlnumber"
  cat >"$db/ca.cnf" <<CNF
[ ca ]
default_ca = test
[ test ]
database = $db/index.txt
crlnumber = $db/crlnumber
default_md = sha256
default_crl_days = 30
crl_extensions = crl_ext
[ crl_ext ]
authorityKeyIdentifier = keyid:always
CNF
  openssl ca -config "$db/ca.cnf" -cert "$tls/ca.pem" -keyfile "$tls/ca.key" -revoke "$tls/$1.pem" \
    -crl_reason keyCompromise 2>/dev/null &&
    gen_crl "$db" &&
    openssl crl -in "$tls/ca.crl.pem" -outform DER -out "$CV_WWW_DIR/$2"
}

# The registry file that makes the trusted authority a root of the Wine
# prefix's machine store: the value is the certificate's property 0x20
# (its encoded form), under the SHA-1 of the DER bytes.
make_trust_reg() {
  openssl x509 -in "$tls/ca.pem" -outform DER -out "$tls/ca.der" || return 1
  python3 - "$tls/ca.der" "$tls/trust.reg" <<'PY'
import hashlib, struct, sys
der = open(sys.argv[1], "rb").read()
blob = struct.pack("<III", 0x20, 1, len(der)) + der
thumb = hashlib.sha1(der).hexdigest().upper()
hexes = ",".join("%02x" % b for b in blob)
with open(sys.argv[2], "w", newline="\r\n") as f:
    f.write("REGEDIT4\n\n")
    f.write("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]\n" % thumb)
    f.write('"Blob"=hex:%s\n\n' % hexes)
PY
}

case "${1:-}" in
  start)
    nginx_stop
    rm -rf "$tls"
    mkdir -p "$dir/tmp" "$tls" "$CV_WWW_DIR"
    chmod a+rx "$CV_SRV_DIR" "$CV_WWW_DIR" 2>/dev/null
    # Each start makes a new authority, and the Wine prefix keeps the ones
    # trusted before: a name of its own keeps chains from being built on
    # an older authority of the same name (and refused as untrusted).
    stamp="$(date +%Y%m%d%H%M%S)-$$"
    # Each authority's list at an address of its own: the system keeps the
    # lists it fetched by their address, and must not take an older
    # authority's for this one's.
    crl="tls-crl/$stamp/ca.crl"
    make_ca ca "Corvane Test Authority $stamp" &&
      make_ca ca2 "Untrusted Test Authority $stamp" &&
      make_leaf good ca localhost,secure.invalid &&
      make_leaf expired ca localhost 20200101000000Z 20210101000000Z &&
      make_leaf wrongname ca otherhost.invalid &&
      make_leaf untrusted ca2 localhost &&
      LEAF_CRL="http://127.0.0.1:$CV_HTTP_PORT/$crl" make_leaf revoked ca localhost &&
      LEAF_CRL="http://127.0.0.1:$CV_HTTP_PORT/$crl" make_leaf crlgood ca localhost &&
      LEAF_CRL="http://127.0.0.1:9/$crl" make_leaf crloffline ca localhost &&
      LEAF_USAGE=clientAuth make_leaf clientonly ca localhost &&
      make_crl revoked "$crl" &&
      make_trust_reg || { echo "could not make the test certificates"; exit 1; }
    chmod -R a+r "$tls"
    server() { # port certificate-file key-file [extra]
      cat <<SRV
  server {
    listen 127.0.0.1:$1 ssl;
    server_name localhost;
    root $CV_WWW_DIR;
    ssl_certificate $2;
    ssl_certificate_key $3;
    ssl_protocols TLSv1.2 TLSv1.3;
    ${4:-}
  }
SRV
    }
    {
      nginx_conf_head
      cat <<CONF
  server {
    listen 127.0.0.1:$CV_HTTPS_REDIRECT_PORT;
    server_name localhost;
    return 302 https://localhost:$CV_HTTPS_PORT\$request_uri;
  }
CONF
      server "$CV_HTTPS_PORT" "$tls/good.chain.pem" "$tls/good.key" \
        "location /to-http/ { rewrite ^/to-http/(.*)\$ http://localhost:$CV_HTTP_PORT/\$1 redirect; }"
      server "$CV_HTTPS_EXPIRED_PORT" "$tls/expired.chain.pem" "$tls/expired.key"
      server "$CV_HTTPS_WRONG_NAME_PORT" "$tls/wrongname.chain.pem" "$tls/wrongname.key"
      server "$CV_HTTPS_UNTRUSTED_PORT" "$tls/untrusted.chain.pem" "$tls/untrusted.key"
      server "$CV_HTTPS_LEAF_PORT" "$tls/good.pem" "$tls/good.key"
      server "$CV_HTTPS_UNTRUSTED_LEAF_PORT" "$tls/untrusted.pem" "$tls/untrusted.key"
      server "$CV_HTTPS_REVOKED_PORT" "$tls/revoked.chain.pem" "$tls/revoked.key"
      server "$CV_HTTPS_CRL_GOOD_PORT" "$tls/crlgood.chain.pem" "$tls/crlgood.key"
      server "$CV_HTTPS_CRL_OFFLINE_PORT" "$tls/crloffline.chain.pem" "$tls/crloffline.key"
      server "$CV_HTTPS_CLIENT_USAGE_PORT" "$tls/clientonly.chain.pem" "$tls/clientonly.key"
      echo "}"
    } >"$conf"
    nginx_launch "TLS nginx" ;;
  stop) nginx_stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
