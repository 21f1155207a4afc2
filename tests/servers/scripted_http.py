#!/usr/bin/env python3
"""A scripted HTTP server for the client's tests: it answers what real
servers will not do on request, and keeps the exact bytes of every request.

Requests name their scenario in the path: /s/TOKEN/SCENARIO[/ARGS...].
The TOKEN groups the requests of one test; /_req/TOKEN/N returns the raw
bytes of request N (from 0) of that token, /_count/TOKEN how many there were.
A request line carrying an absolute URL (the client talking to a proxy) is
served the same way, so this server can also stand in for a proxy.

Scenarios:
  body/N            200 with N bytes of the pattern (i * 7 + 3) & 255
  empty             200 with an empty body
  lf                200 whose header lines end in LF alone
  status/CODE       that status, a small body
  redirect/N/CODE   CODE with a Location to redirect/N-1/CODE; at 0 a 200 "arrived"
  relocate-creds    302 to a Location carrying other credentials, then body/5
  redirect-to/HOST/PORT  302 to http://HOST:PORT/s/TOKEN/body/5 (this server
                    listens on every address and port given at its start)
  rel/CODE/FORM     CODE with a Location to body/5 written as servers write it:
                    FORM "abs" an absolute path, "up" "../../body/5", "net" a
                    "//host:port/..." reference
  noauth/N          a host that takes no login: 400 to a request carrying any
                    Authorization header, else body/N
  nospace           302 with "Location:" and no blank after the colon
  contentloc        302 with Content-Location (to body/7) ahead of Location
  mixedcase         302 with "lOcAtIoN: " to body/4
  nolocation        302 without a Location
  longheader        200 whose header block runs past 2,048 bytes
  exact/TEXT        TEXT (URL-quoted) as the whole response, then close
  close             closes without sending a byte
  silent            accepts and never answers
  cut/N/M           200 announcing N bytes of the pattern, sends M, closes
  sized/N/EXTRA     200 announcing N bytes of the pattern, sends them and EXTRA
                    bytes more, then keeps the connection open until the
                    client closes it
  stall-once/N      first request: header and half the body, then silence;
                    later requests: the whole body of N bytes
  slow/N            200 with N bytes of the pattern sent in small pieces
  login/OFFER/MODE  a proxy asking for a login: 407 offering the schemes of
                    OFFER ("Basic,NTLM,Negotiate"); a request carrying a
                    Windows scheme's first token gets a 407 with a challenge
                    token and a body by Content-Length, and the next request
                    on that connection gets MODE: "ok" 200 with a body that
                    names the scheme, "refuse" 407 again, "nolength" (the
                    challenge itself comes without Content-Length), "close"
                    (the challenge closes the connection); a request carrying
                    Basic, where OFFER has it, gets "ok" 200 "via Basic" or
                    "refuse" 407 again
  trickle/N         200 with N bytes of the pattern: 4,096 at once, then pieces
                    of 512 bytes 20 ms apart (about 25 KB/s)
  drip/N/MS         200 announcing N bytes of the pattern: the head at once,
                    then the body one byte every MS milliseconds
  drip-head/MS      the head of a 5-byte body one byte every MS milliseconds,
                    then the body
  keep/N            200 with N bytes of the pattern framed by Content-Length;
                    when the request asked to keep the connection, the answer
                    says keep-alive and the next request on the connection is
                    served too (any scenario)
  keep-drop/N       as keep/N, then the connection is dropped at once, as a
                    server does with a connection idle too long
  keep-close/N      200 framed by Content-Length saying "Connection: close",
                    yet the connection stays open until the client closes it
/_conns/TOKEN returns how many connections began with a request of TOKEN.
"""
import os
import select
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

LOCK = threading.Lock()
REQUESTS = {}  # token -> [raw request bytes]
SEEN = {}  # request path -> how many times it was asked for
CONNS = {}  # token -> connections whose first request was of that token
STOP = threading.Event()


def pattern(n):
    return bytes(((i * 7 + 3) & 255) for i in range(n))


def read_request(conn):
    """Reads up to the blank line, then whatever follows at once, so the
    recorded bytes are exactly what came (nothing may follow the blank line)."""
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        try:
            chunk = conn.recv(4096)
        except OSError:
            return data
        if not chunk:
            return data
        data += chunk
        if len(data) > 65536:
            return data
    r, _, _ = select.select([conn], [], [], 0.05)
    if r:
        try:
            data += conn.recv(4096)
        except OSError:
            pass
    return data


def response(status, body=b"", headers=(), reason="X", eol=b"\r\n"):
    lines = [("HTTP/1.0 %d %s" % (status, reason)).encode()]
    lines += [h.encode() if isinstance(h, str) else h for h in headers]
    return eol.join(lines) + eol + eol + body


def asks_keep(raw):
    for l in raw.split(b"\r\n")[1:]:
        name, _, value = l.partition(b":")
        if name.strip().lower() in (b"connection", b"proxy-connection") and b"keep-alive" in value.lower():
            return True
    return False


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        self.first = True
        while True:
            self.keep = False
            raw = read_request(conn)
            if not raw:
                return
            self.one(conn, raw)
            self.first = False
            if not self.keep:
                return

    def one(self, conn, raw):
        line = raw.split(b"\n", 1)[0].decode("latin-1").strip()
        parts = line.split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        if target.lower().startswith("http://"):
            rest = target[7:]
            target = rest[rest.find("/"):] if "/" in rest else "/"
        segs = [urllib.parse.unquote(s) for s in target.split("/")[1:]]
        base = "http://127.0.0.1:%d" % self.server.server_address[1]
        if segs[:1] == ["_req"] and len(segs) >= 3:
            with LOCK:
                reqs = REQUESTS.get(segs[1], [])
                idx = int(segs[2])
                body = reqs[idx] if idx < len(reqs) else b""
            status = 200 if idx < len(reqs) else 404
            conn.sendall(response(status, body, reason="OK"))
            return
        if segs[:1] == ["_conns"] and len(segs) >= 2:
            with LOCK:
                n = CONNS.get(segs[1], 0)
            conn.sendall(response(200, str(n).encode(), reason="OK"))
            return
        if segs[:1] == ["_count"] and len(segs) >= 2:
            with LOCK:
                n = len(REQUESTS.get(segs[1], []))
            conn.sendall(response(200, str(n).encode(), reason="OK"))
            return
        if segs[:1] != ["s"] or len(segs) < 3:
            conn.sendall(response(404, b"no scenario\n", reason="Not Found"))
            return
        token, scenario, args = segs[1], segs[2], segs[3:]
        with LOCK:
            REQUESTS.setdefault(token, []).append(raw)
            SEEN[target] = SEEN.get(target, 0) + 1
            count = SEEN[target]
            if self.first:
                CONNS[token] = CONNS.get(token, 0) + 1
        me = "%s/s/%s" % (base, token)
        self.current, self.token = raw, token
        try:
            self.serve(conn, scenario, args, me, count)
        except OSError:
            pass

    def serve(self, conn, scenario, args, me, count):
        if scenario == "body":
            conn.sendall(response(200, pattern(int(args[0])), ["Content-Type: application/octet-stream"], "OK"))
        elif scenario in ("keep", "keep-drop"):
            n = int(args[0])
            keep = asks_keep(self.current)
            headers = ["Content-Length: %d" % n] + (["Connection: keep-alive"] if keep else [])
            conn.sendall(response(200, pattern(n), headers, "OK"))
            self.keep = keep and scenario == "keep"
        elif scenario == "keep-close":
            n = int(args[0])
            conn.sendall(response(200, pattern(n), ["Content-Length: %d" % n, "Connection: close"], "OK"))
            self.wait_for_close(conn)
        elif scenario == "empty":
            conn.sendall(response(200, b"", ["Content-Type: text/plain"], "OK"))
        elif scenario == "lf":
            conn.sendall(response(200, b"lf body", ["Content-Type: text/plain", "Server: s"], "OK", eol=b"\n"))
        elif scenario == "status":
            code = int(args[0])
            conn.sendall(response(code, b"status page\n", ["Content-Type: text/plain"]))
        elif scenario == "redirect":
            n, code = int(args[0]), int(args[1])
            if n <= 0:
                conn.sendall(response(200, b"arrived", reason="OK"))
            else:
                conn.sendall(response(code, b"", ["Location: %s/redirect/%d/%d" % (me, n - 1, code)]))
        elif scenario == "relocate-creds":
            loc = me.replace("http://", "http://other:wrong@") + "/body/5"
            conn.sendall(response(302, b"", ["Location: " + loc]))
        elif scenario == "redirect-to":
            loc = "http://%s:%s/s/%s/body/5" % (args[0], args[1], me.rsplit("/", 1)[1])
            conn.sendall(response(302, b"", ["Location: " + loc]))
        elif scenario == "rel":
            code, form = int(args[0]), args[1]
            path = "/s/%s/body/5" % me.rsplit("/", 1)[1]
            loc = {"abs": path, "up": "../../body/5", "net": "//%s%s" % (me.split("//", 1)[1].split("/", 1)[0], path)}
            conn.sendall(response(code, b"", ["Location: " + loc[form]]))
        elif scenario == "noauth":
            if any(l.lower().startswith(b"authorization:") for l in self.current.split(b"\r\n")):
                conn.sendall(response(400, b"no login here\n", ["Content-Type: text/plain"]))
            else:
                conn.sendall(response(200, pattern(int(args[0])), reason="OK"))
        elif scenario == "nospace":
            conn.sendall(response(302, b"", ["Location:%s/body/3" % me]))
        elif scenario == "contentloc":
            conn.sendall(response(302, b"", ["Content-Location: %s/body/7" % me, "Location: %s/status/404" % me]))
        elif scenario == "mixedcase":
            conn.sendall(response(302, b"", ["lOcAtIoN: %s/body/4" % me]))
        elif scenario == "nolocation":
            conn.sendall(response(302, b"", ["Server: s"]))
        elif scenario == "longheader":
            filler = ["X-Filler-%02d: %s" % (i, "f" * 60) for i in range(40)]
            conn.sendall(response(200, b"body", filler, "OK"))
        elif scenario == "exact":
            conn.sendall(args[0].encode("latin-1"))
        elif scenario == "close":
            pass
        elif scenario == "silent":
            self.wait_for_close(conn)
        elif scenario == "cut":
            n, m = int(args[0]), int(args[1])
            whole = response(200, pattern(n), ["Content-Length: %d" % n], "OK")
            conn.sendall(whole[: len(whole) - n + m])
        elif scenario == "sized":
            n, extra = int(args[0]), int(args[1])
            conn.sendall(response(200, pattern(n) + b"X" * extra, ["Content-Length: %d" % n], "OK"))
            self.wait_for_close(conn)
        elif scenario == "stall-once":
            n = int(args[0])
            whole = response(200, pattern(n), ["Content-Length: %d" % n], "OK")
            if count == 1:
                conn.sendall(whole[: len(whole) - n + n // 2])
                self.wait_for_close(conn)
            else:
                conn.sendall(whole)
        elif scenario == "login":
            self.login(conn, args[0].split(","), args[1], me)
        elif scenario == "slow":
            n = int(args[0])
            whole = response(200, pattern(n), [], "OK")
            for i in range(0, len(whole), 1000):
                conn.sendall(whole[i:i + 1000])
        elif scenario == "trickle":
            n = int(args[0])
            whole = response(200, pattern(n), [], "OK")
            first = len(whole) - n + min(n, 4096)
            conn.sendall(whole[:first])
            for i in range(first, len(whole), 512):
                if STOP.is_set():
                    return
                time.sleep(0.02)
                conn.sendall(whole[i:i + 512])
        elif scenario == "drip":
            n, ms = int(args[0]), int(args[1])
            conn.sendall(response(200, b"", ["Content-Length: %d" % n], "OK"))
            self.drip(conn, pattern(n), ms)
        elif scenario == "drip-head":
            head = response(200, b"", ["Content-Length: 5"], "OK")
            self.drip(conn, head, int(args[0]))
            conn.sendall(pattern(5))
        else:
            conn.sendall(response(404, b"unknown scenario\n", reason="Not Found"))

    def drip(self, conn, data, ms):
        # Ends with the client: a send after it closed fails.
        for i in range(len(data)):
            if STOP.wait(ms / 1000.0):
                return
            conn.sendall(data[i:i + 1])

    def login(self, conn, offer, mode, me):
        offers = ["Proxy-Authenticate: %s" % (o + (' realm="a, b"' if o == "Basic" else "")) for o in offer]
        raw = self.current
        body = b"<p>login</p>"
        line = [l for l in raw.split(b"\r\n") if l.lower().startswith(b"proxy-authorization:")]
        auth = line[0].split(b":", 1)[1].strip().decode() if line else ""
        scheme, _, token = auth.partition(" ")
        if scheme == "Basic" and "Basic" in offer and mode in ("ok", "refuse"):
            if mode == "ok":
                conn.sendall(response(200, b"via Basic", reason="OK"))
            else:
                conn.sendall(response(407, body, offers + ["Content-Length: %d" % len(body)]))
            return
        if scheme not in ("NTLM", "Negotiate"):
            conn.sendall(response(407, body, offers + ["Content-Length: %d" % len(body)]))
            return
        challenge = ["Proxy-Authenticate: %s Y2hhbGxlbmdl" % scheme]
        if mode == "nolength":
            conn.sendall(response(407, b"", challenge + ["Proxy-Connection: keep-alive"]))
            return
        if mode == "close":
            conn.sendall(response(407, body, challenge + ["Content-Length: %d" % len(body), "Connection: close"]))
            return
        conn.sendall(response(407, body, challenge + ["Content-Length: %d" % len(body), "Proxy-Connection: keep-alive"]))
        nxt = read_request(conn)
        if not nxt:
            return
        with LOCK:
            REQUESTS.setdefault(self.token, []).append(nxt)
        if mode == "ok":
            conn.sendall(response(200, ("via %s on one connection" % scheme).encode(), reason="OK"))
        else:
            conn.sendall(response(407, body, offers + ["Content-Length: %d" % len(body)]))

    def wait_for_close(self, conn):
        conn.settimeout(None)
        while not STOP.is_set():
            r, _, _ = select.select([conn], [], [], 1.0)
            if r:
                try:
                    if not conn.recv(4096):
                        return
                except OSError:
                    return


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True
    request_queue_size = 64


def main():
    """scripted_http.py PORT [PIDFILE [ADDR:PORT...]]: listens on 127.0.0.1:PORT
    and on every further ADDR:PORT, all sharing one record of requests."""
    port = int(sys.argv[1])
    servers = [Server(("127.0.0.1", port), Handler)]
    for extra in sys.argv[3:]:
        addr, _, p = extra.rpartition(":")
        servers.append(Server((addr, int(p)), Handler))
    pidfile = sys.argv[2] if len(sys.argv) > 2 else None
    if pidfile:
        with open(pidfile, "w") as f:
            f.write(str(os.getpid()))
    for extra in servers[1:]:
        threading.Thread(target=extra.serve_forever, daemon=True).start()
    try:
        servers[0].serve_forever()
    finally:
        STOP.set()


if __name__ == "__main__":
    main()
