#!/bin/sh
# Makes the certificates of the HTTPS tests in DIR: a test authority (ca.pem),
# a server certificate for 127.0.0.1 that it signed (server.pem, server.key),
# and one for the same address that nobody vouches for (rogue.pem, rogue.key).
set -eu
DIR=$1
mkdir -p "$DIR"
cd "$DIR"
rm -f ./*.pem ./*.key ./*.csr ./*.srl ./*.ext
days=825
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days $days -subj "/CN=Orvand Test Authority" \
  -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
# Windows matches the address against the IP entry, Wine's WinInet against the DNS one.
printf 'subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n' > server.ext
openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=127.0.0.1" -keyout server.key -out server.csr 2>/dev/null
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days $days -sha256 \
  -extfile server.ext -out server.pem 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days $days -subj "/CN=127.0.0.1" \
  -keyout rogue.key -out rogue.pem -addext "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1" 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der
rm -f ca.key server.csr ca.srl server.ext
