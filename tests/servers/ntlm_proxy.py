#!/usr/bin/env python3
"""An HTTP proxy of the test tier that demands a Windows login and checks
it for real: it sends an NTLM challenge and verifies the NTLMv2 answer
against a known password (the NT hash needs MD4, written out below since
the standard library's hashlib may lack it). A checked login on a
connection lets that connection's request through: GET with an absolute
URL is passed on, CONNECT opens a tunnel. Host names ending in ".invalid"
reach 127.0.0.1 through this proxy only, so a test can make a site that a
direct connection cannot find.

Three listeners:
  NTLM_PORT       offers "NTLM" only
  NEGOTIATE_PORT  offers "Basic", "NTLM" and "Negotiate" (in that order, so
                  that a client choosing by its own preference is seen);
                  Negotiate answers may carry raw NTLM tokens or SPNEGO-
                  wrapped ones, Basic is checked against the same password.
  BASIC_PORT      offers "Basic" only (the user without a domain). A
                  request for http://hold.invalid/next-connect arms it: the
                  next CONNECT it gets is held without an answer until the
                  client gives up (a proxy that timed out once).

Every event is a line in the log file, e.g.
  conn=3 port=18090 offer target=http://... keep=0 auth=none
  conn=3 port=18090 type1 scheme=NTLM
  conn=3 port=18090 ok scheme=NTLM user=CORP\\ntlmuser ntlmv2=1 legs=2 target=http://...
  conn=4 port=18090 refused scheme=NTLM user=CORP\\ntlmuser why=wrong-answer
Usage: ntlm_proxy.py NTLM_PORT NEGOTIATE_PORT BASIC_PORT PIDFILE LOGFILE
Environment: CV_NTLM_USER, CV_NTLM_DOMAIN, CV_NTLM_PASSWORD.
"""
import base64
import hmac
import itertools
import os
import select
import socket
import socketserver
import struct
import sys
import threading

USER = os.environ.get("CV_NTLM_USER", "ntlmuser")
DOMAIN = os.environ.get("CV_NTLM_DOMAIN", "CORP")
PASSWORD = os.environ.get("CV_NTLM_PASSWORD", "Ntlm-Pass1")
LOG_LOCK = threading.Lock()
COUNTER = itertools.count(1)
LOG_PATH = None
HOLD_NEXT_CONNECT = threading.Event()


def log(line):
    with LOG_LOCK:
        with open(LOG_PATH, "a") as f:
            f.write(line + "\n")


# ---- MD4 (RFC 1320) ----------------------------------------------------------

def md4(data):
    def rotl(x, n):
        x &= 0xFFFFFFFF
        return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF

    msg = bytearray(data)
    bit_len = (8 * len(data)) & 0xFFFFFFFFFFFFFFFF
    msg.append(0x80)
    while len(msg) % 64 != 56:
        msg.append(0)
    msg += struct.pack("<Q", bit_len)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for off in range(0, len(msg), 64):
        x = struct.unpack("<16I", bytes(msg[off:off + 64]))
        aa, bb, cc, dd = a, b, c, d
        f = lambda x_, y, z: (x_ & y) | (~x_ & z)
        g = lambda x_, y, z: (x_ & y) | (x_ & z) | (y & z)
        h = lambda x_, y, z: x_ ^ y ^ z
        for i in range(16):
            k = i
            s = (3, 7, 11, 19)[i % 4]
            if i % 4 == 0: a = rotl(a + f(b, c, d) + x[k], s)
            elif i % 4 == 1: d = rotl(d + f(a, b, c) + x[k], s)
            elif i % 4 == 2: c = rotl(c + f(d, a, b) + x[k], s)
            else: b = rotl(b + f(c, d, a) + x[k], s)
        for i in range(16):
            k = (i % 4) * 4 + i // 4
            s = (3, 5, 9, 13)[i % 4]
            if i % 4 == 0: a = rotl(a + g(b, c, d) + x[k] + 0x5A827999, s)
            elif i % 4 == 1: d = rotl(d + g(a, b, c) + x[k] + 0x5A827999, s)
            elif i % 4 == 2: c = rotl(c + g(d, a, b) + x[k] + 0x5A827999, s)
            else: b = rotl(b + g(c, d, a) + x[k] + 0x5A827999, s)
        order = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)
        for i in range(16):
            k = order[i]
            s = (3, 9, 11, 15)[i % 4]
            if i % 4 == 0: a = rotl(a + h(b, c, d) + x[k] + 0x6ED9EBA1, s)
            elif i % 4 == 1: d = rotl(d + h(a, b, c) + x[k] + 0x6ED9EBA1, s)
            elif i % 4 == 2: c = rotl(c + h(d, a, b) + x[k] + 0x6ED9EBA1, s)
            else: b = rotl(b + h(c, d, a) + x[k] + 0x6ED9EBA1, s)
        a, b, c, d = (a + aa) & 0xFFFFFFFF, (b + bb) & 0xFFFFFFFF, (c + cc) & 0xFFFFFFFF, (d + dd) & 0xFFFFFFFF
    return struct.pack("<4I", a, b, c, d)


def hmac_md5(key, data):
    return hmac.new(key, data, "md5").digest()


def nt_hash(password):
    return md4(password.encode("utf-16-le"))


# ---- NTLM messages -------------------------------------------------------------

FLAGS = (0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 |
         0x00800000 | 0x20000000 | 0x80000000)


def challenge_message(server_challenge):
    target = DOMAIN.upper().encode("utf-16-le")
    def av(kind, value):
        return struct.pack("<HH", kind, len(value)) + value
    info = (av(2, target) + av(1, b"P\x00R\x00O\x00X\x00Y\x00") +
            av(4, "corp.test".encode("utf-16-le")) + av(3, "proxy.corp.test".encode("utf-16-le")) + av(0, b""))
    header = 48
    msg = b"NTLMSSP\x00" + struct.pack("<I", 2)
    msg += struct.pack("<HHI", len(target), len(target), header)
    msg += struct.pack("<I", FLAGS) + server_challenge + b"\x00" * 8
    msg += struct.pack("<HHI", len(info), len(info), header + len(target))
    return msg + target + info


def ntlm_part(token):
    """The NTLM message inside a token: raw, or wrapped in SPNEGO."""
    at = token.find(b"NTLMSSP\x00")
    return token[at:] if at >= 0 else None


def field(msg, offset):
    length, _, where = struct.unpack_from("<HHI", msg, offset)
    if where + length > len(msg):
        raise ValueError("field outside the message")
    return msg[where:where + length]


def check_authenticate(msg, server_challenge):
    """(user text, ntlmv2 flag, ok, why) for a type 3 message."""
    flags = struct.unpack_from("<I", msg, 60)[0]
    text = (lambda b: b.decode("utf-16-le")) if flags & 1 else (lambda b: b.decode("latin-1"))
    nt = field(msg, 20)
    domain = text(field(msg, 28))
    user = text(field(msg, 36))
    who = "%s\\%s" % (domain, user)
    if user.lower() != USER.lower():
        return who, 0, False, "unknown-user"
    if len(nt) <= 24:
        return who, 0, False, "not-ntlmv2"
    key = hmac_md5(nt_hash(PASSWORD), (user.upper() + domain).encode("utf-16-le"))
    proof = hmac_md5(key, server_challenge + nt[16:])
    if not hmac.compare_digest(proof, nt[:16]):
        return who, 1, False, "wrong-answer"
    return who, 1, True, ""


# ---- the proxy -------------------------------------------------------------------

def upstream_address(host, port):
    return ("127.0.0.1" if host.lower().endswith(".invalid") else host, int(port))


def read_head(conn, first=b""):
    data = first
    while b"\r\n\r\n" not in data:
        try:
            chunk = conn.recv(4096)
        except OSError:
            return None, b""
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > 65536:
            return None, b""
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def reply(status, reason, headers=(), body=b"", keep=False):
    lines = ["HTTP/1.0 %d %s" % (status, reason)] + list(headers)
    lines.append("Content-Length: %d" % len(body))
    lines.append("Proxy-Connection: %s" % ("keep-alive" if keep else "close"))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        conn.settimeout(30)
        port = self.server.server_address[1]
        negotiate = port == self.server.negotiate_port
        basic_only = port == self.server.basic_port
        offers = (["Proxy-Authenticate: Basic realm=\"corp\"", "Proxy-Authenticate: NTLM",
                   "Proxy-Authenticate: Negotiate"] if negotiate else
                  ["Proxy-Authenticate: Basic realm=\"corp\""] if basic_only else ["Proxy-Authenticate: NTLM"])
        cid = next(COUNTER)
        tag = "conn=%d port=%d" % (cid, port)
        server_challenge = None
        legs = 0
        rest = b""
        while True:
            head, rest = read_head(conn, rest)
            if head is None:
                return
            lines = head.split("\r\n")
            request_line = lines[0]
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            keep = "keep-alive" in headers.get("proxy-connection", "").lower()
            parts = request_line.split(" ")
            method, target = (parts[0], parts[1]) if len(parts) > 2 else ("", "")
            auth = headers.get("proxy-authorization", "")
            scheme, _, value = auth.partition(" ")
            scheme_l = scheme.lower()
            body = b"<html>login needed</html>\n"
            if basic_only and method == "GET" and target == "http://hold.invalid/next-connect":
                HOLD_NEXT_CONNECT.set()
                conn.sendall(reply(200, "OK", body=b"armed\n"))
                return
            if basic_only and method == "CONNECT" and HOLD_NEXT_CONNECT.is_set():
                HOLD_NEXT_CONNECT.clear()
                log("%s held target=%s auth=%s" % (tag, target, scheme or "none"))
                conn.settimeout(60)
                try:
                    while conn.recv(4096):
                        pass
                except OSError:
                    pass
                return
            if scheme_l == "basic" and (negotiate or basic_only):
                try:
                    user, _, password = base64.b64decode(value).decode("latin-1").partition(":")
                except Exception:
                    user, password = "", None
                # A name with a domain is meant for a Windows login.
                if user.lower() == USER.lower() and password == PASSWORD:
                    log("%s ok scheme=Basic user=%s target=%s" % (tag, user, target))
                    return self.forward(conn, method, target, lines, rest)
                log("%s refused scheme=Basic user=%s" % (tag, user))
                conn.sendall(reply(407, "Proxy Authentication Required", offers, body))
                return
            if scheme_l in ("ntlm", "negotiate") and not basic_only and (scheme_l == "ntlm" or negotiate):
                shown = "NTLM" if scheme_l == "ntlm" else "Negotiate"
                try:
                    msg = ntlm_part(base64.b64decode(value))
                    kind = struct.unpack_from("<I", msg, 8)[0] if msg else 0
                except Exception:
                    msg, kind = None, 0
                if kind == 1:
                    legs += 1
                    server_challenge = os.urandom(8)
                    token = base64.b64encode(challenge_message(server_challenge)).decode()
                    log("%s type1 scheme=%s keep=%d" % (tag, shown, int(keep)))
                    conn.sendall(reply(407, "Proxy Authentication Required",
                                       ["Proxy-Authenticate: %s %s" % (shown, token)], body, keep=keep))
                    if not keep:
                        return
                    continue
                if kind == 3 and server_challenge:
                    legs += 1
                    try:
                        who, v2, ok, why = check_authenticate(msg, server_challenge)
                    except Exception as e:
                        who, v2, ok, why = "?", 0, False, "bad-message"
                    if ok:
                        log("%s ok scheme=%s user=%s ntlmv2=%d legs=%d target=%s" % (tag, shown, who, v2, legs, target))
                        return self.forward(conn, method, target, lines, rest)
                    log("%s refused scheme=%s user=%s why=%s" % (tag, shown, who, why))
                    conn.sendall(reply(407, "Proxy Authentication Required", offers, body))
                    return
                log("%s refused scheme=%s why=out-of-order kind=%d" % (tag, shown, kind))
                conn.sendall(reply(407, "Proxy Authentication Required", offers, body))
                return
            log("%s offer target=%s keep=%d auth=%s" % (tag, target, int(keep), scheme or "none"))
            conn.sendall(reply(407, "Proxy Authentication Required", offers, body, keep=keep))
            if not keep:
                return

    def forward(self, conn, method, target, lines, rest):
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            try:
                upstream = socket.create_connection(upstream_address(host, port), 10)
            except (OSError, ValueError):
                conn.sendall(reply(502, "Bad Gateway"))
                return
            conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
            if rest:
                upstream.sendall(rest)
            return self.tunnel(conn, upstream)
        if not target.lower().startswith("http://"):
            conn.sendall(reply(400, "Bad Request"))
            return
        hostport, slash, path = target[7:].partition("/")
        host, _, port = hostport.partition(":")
        try:
            upstream = socket.create_connection(upstream_address(host, port or 80), 10)
        except (OSError, ValueError):
            conn.sendall(reply(502, "Bad Gateway"))
            return
        out = ["%s /%s HTTP/1.0" % (method, path)]
        for line in lines[1:]:
            name = line.partition(":")[0].strip().lower()
            if name.startswith("proxy-") or name == "connection":
                continue
            out.append(line)
        upstream.sendall(("\r\n".join(out) + "\r\n\r\n").encode("latin-1"))
        self.tunnel(conn, upstream)

    def tunnel(self, conn, upstream):
        conn.settimeout(None)
        upstream.settimeout(None)
        peers = {conn: upstream, upstream: conn}
        try:
            while True:
                r, _, _ = select.select(list(peers), [], [], 60)
                if not r:
                    return
                for s in r:
                    data = s.recv(65536)
                    if not data:
                        if s is upstream:
                            return
                        peers.pop(conn, None)
                        upstream.shutdown(socket.SHUT_WR)
                        continue
                    peers.get(s) and peers[s].sendall(data)
        except OSError:
            return
        finally:
            upstream.close()


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    request_queue_size = 64


def main():
    global LOG_PATH
    ntlm_port, negotiate_port, basic_port = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    pidfile, LOG_PATH = sys.argv[4], sys.argv[5]
    servers = []
    for port in (ntlm_port, negotiate_port, basic_port):
        s = Server(("127.0.0.1", port), Handler)
        s.negotiate_port = negotiate_port
        s.basic_port = basic_port
        servers.append(s)
    with open(pidfile, "w") as f:
        f.write(str(os.getpid()))
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    servers[0].serve_forever()


if __name__ == "__main__":
    main()
