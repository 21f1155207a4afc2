#!/usr/bin/env python3
"""An HTTP proxy that damages answers, for tests of how the program fares on
a bad network. Each request (an absolute URL in the request line, as a
client talks to a proxy) is passed on to its server; a seeded share of the
answers then meets one fault:

  cut     the answer ends halfway through its body (or its head)
  stall   the answer stops halfway for STALL seconds, then goes on
  flip    one byte of the body is changed
  503     the proxy answers "503 Service Unavailable" itself

The same seed gives the same faults to the same order of requests. Used as a
module (FaultProxy) by the end-to-end tests, or on its own:

  fault_proxy.py PORT SEED [RATE [STALL]]   PORT 0 takes a free port (printed)
"""
import random
import socket
import socketserver
import sys
import threading
import time

FAULTS = ("cut", "stall", "flip", "503")


def read_head(conn, limit=65536):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < limit:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def read_all(conn):
    data = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk


class FaultProxy:
    def __init__(self, seed, rate=0.2, stall=1.0, port=0, host="127.0.0.1"):
        self.rng = random.Random(seed)
        self.rate = rate
        self.stall = stall
        self.lock = threading.Lock()
        # (request target, fault or "none") in the order answers were decided.
        self.record = []
        proxy = self

        class Handler(socketserver.BaseRequestHandler):
            def handle(self):
                try:
                    proxy.serve(self.request)
                except OSError:
                    pass

        class Server(socketserver.ThreadingTCPServer):
            allow_reuse_address = True
            daemon_threads = True

        self.server = Server((host, port), Handler)
        self.port = self.server.server_address[1]
        self.thread = None

    def start(self):
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        return self.port

    def stop(self):
        self.server.shutdown()
        self.server.server_close()

    def counts(self):
        with self.lock:
            out = dict((f, 0) for f in ("none",) + FAULTS)
            for _, fault in self.record:
                out[fault] += 1
            return out

    def decide(self, target):
        with self.lock:
            fault = self.rng.choice(FAULTS) if self.rng.random() < self.rate else "none"
            where = self.rng.random()
            self.record.append((target, fault))
            return fault, where

    def serve(self, conn):
        conn.settimeout(30)
        request = read_head(conn)
        line = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        if len(line) < 3 or not line[1].lower().startswith("http://"):
            conn.sendall(b"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
            return
        target = line[1]
        authority = target[7:].split("/", 1)[0].rsplit("@", 1)[-1]
        host, _, port = authority.partition(":")
        fault, where = self.decide(target)
        if fault == "503":
            conn.sendall(b"HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
            return
        upstream = socket.create_connection((host, int(port or 80)), timeout=30)
        try:
            upstream.sendall(request)
            answer = read_all(upstream)
        finally:
            upstream.close()
        end = answer.find(b"\r\n\r\n")
        body_at = end + 4 if end >= 0 else len(answer)
        body = len(answer) - body_at
        if fault == "cut":
            keep = body_at + body // 2 if body > 1 else len(answer) // 2
            conn.sendall(answer[:keep])
        elif fault == "stall":
            half = body_at + body // 2
            conn.sendall(answer[:half])
            time.sleep(self.stall)
            conn.sendall(answer[half:])
        elif fault == "flip" and body > 0:
            at = body_at + int(where * body)
            damaged = answer[:at] + bytes([answer[at] ^ 0x20]) + answer[at + 1:]
            conn.sendall(damaged)
        else:
            conn.sendall(answer)


def main():
    port, seed = int(sys.argv[1]), int(sys.argv[2])
    rate = float(sys.argv[3]) if len(sys.argv) > 3 else 0.2
    stall = float(sys.argv[4]) if len(sys.argv) > 4 else 1.0
    proxy = FaultProxy(seed, rate, stall, port)
    print(proxy.port, flush=True)
    proxy.server.serve_forever()


if __name__ == "__main__":
    main()
