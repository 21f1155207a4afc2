#!/usr/bin/env python3
"""A scripted FTP server for the transport tests: it does on request what a
real server will not (replies in pieces, two replies in one piece, a data
connection that ends before or after the final reply, a 1xx reply whose only
digits are in the file name, a dropped control connection, silence).

The behaviour of a session is chosen by the user name it logs in with: the
part before the first "." names the scenario. Every command a session
receives is written, one per line, to <logdir>/<user>.log before it is
answered, so a client that has seen a reply can read what the server got.
Files are served from the given root directory.

Scenarios (the user name's first part):
  otherpasv   PASV names a decoy address (this server's address with the
              last number plus one) at the port where the real listener
              waits; a connection to the decoy is logged as "DECOY".
  short       the 1xx reply announces the file's size, fewer bytes follow,
              then 226.
"""
import os
import socket
import sys
import threading
import time

ADDR, ROOT, LOGDIR = sys.argv[1], sys.argv[2], sys.argv[3]
DECOY = ".".join(ADDR.split(".")[:3] + [str(int(ADDR.split(".")[3]) + 1)])
PORT = int(os.environ.get("CV_SCRIPTED_FTP_PORT", "21"))

GREETING = [b"220-Scripted FTP ser", b"ver\r\n220-second line\r\n", b"220 ready\r\n"]


class Session:
    def __init__(self, conn):
        self.conn = conn
        self.scenario = "plain"
        self.user = None
        self.log = None
        self.pasv = None
        self.port_addr = None
        self.data = None

    # -- helpers ---------------------------------------------------------
    def send(self, text):
        raw = text.encode("latin-1")
        if self.scenario == "split":
            for i in range(0, len(raw), 2):
                self.conn.sendall(raw[i:i + 2])
                time.sleep(0.004)
        else:
            self.conn.sendall(raw)

    def record(self, line):
        if self.log:
            self.log.write(line + "\n")
            self.log.flush()

    def open_data(self):
        if self.pasv is not None:
            self.pasv.settimeout(10)
            conn, _ = self.pasv.accept()
            self.pasv.close()
            self.pasv = None
            return conn
        if self.port_addr is not None:
            s = socket.socket()
            s.bind((ADDR, 0))
            s.settimeout(10)
            s.connect(self.port_addr)
            return s
        return None

    # -- commands --------------------------------------------------------
    def on_user(self, arg):
        self.user = arg
        self.scenario = arg.split(".", 1)[0]
        safe = "".join(c if c.isalnum() or c in "._-" else "_" for c in arg)[:80]
        self.log = open(os.path.join(LOGDIR, safe + ".log"), "w")
        self.record("USER " + arg)
        if self.scenario == "dropuser":
            return False
        if self.scenario == "silent":
            self.conn.settimeout(30)
            try:
                while self.conn.recv(100):
                    pass
            except OSError:
                pass
            return False
        if self.scenario == "user230":
            self.send("230 Login successful.\r\n")
        elif self.scenario == "longline":
            self.send("331 " + "x" * 3000 + "\r\n")
        elif self.scenario == "bigbanner":
            lines = ["331-Welcome to the big banner"]
            lines += ["  line %03d %s" % (i, "b" * 50) for i in range(40)]
            lines += ["331 Please specify the password."]
            self.send("\r\n".join(lines) + "\r\n")
        else:
            self.send("331 Please specify the password.\r\n")
        return True

    def on_pasv(self):
        if self.scenario in ("nopasv", "badport"):
            self.send("502 PASV not allowed.\r\n")
            return
        if self.scenario == "shortpasv":
            self.send("227 Entering Passive Mode (127,0,5).\r\n")
            return
        if self.pasv:
            self.pasv.close()
        if self.scenario == "otherpasv":
            self.decoy_pasv()
            return
        self.pasv = socket.socket()
        self.pasv.bind((ADDR, 0))
        self.pasv.listen(1)
        port = self.pasv.getsockname()[1]
        self.port_addr = None
        self.send("227 Entering Passive Mode (%s,%d,%d).\r\n" % (ADDR.replace(".", ","), port >> 8, port & 255))

    def decoy_pasv(self):
        """Listens on the same port at this address and at the decoy, and
        names the decoy in the reply."""
        for _ in range(50):
            decoy = socket.socket()
            decoy.bind((DECOY, 0))
            port = decoy.getsockname()[1]
            real = socket.socket()
            try:
                real.bind((ADDR, port))
            except OSError:
                real.close()
                decoy.close()
                continue
            break
        decoy.listen(1)
        real.listen(1)
        self.pasv = real
        self.port_addr = None

        def watch():
            decoy.settimeout(15)
            try:
                conn, _ = decoy.accept()
                self.record("DECOY")
                conn.close()
            except OSError:
                pass
            finally:
                decoy.close()
        threading.Thread(target=watch, daemon=True).start()
        self.send("227 Entering Passive Mode (%s,%d,%d).\r\n" % (DECOY.replace(".", ","), port >> 8, port & 255))

    def on_port(self, arg):
        if self.scenario == "badport":
            self.send("500 Illegal PORT command.\r\n")
            return
        n = [int(x) for x in arg.split(",")]
        self.port_addr = ("%d.%d.%d.%d" % tuple(n[:4]), n[4] * 256 + n[5])
        self.send("200 PORT command successful.\r\n")

    def on_retr(self, path):
        full = os.path.join(ROOT, path.lstrip("/"))
        if self.scenario == "refuse" or not os.path.isfile(full):
            self.send("550 Failed to open file.\r\n")
            return True
        with open(full, "rb") as f:
            body = f.read()
        s = self.scenario
        if s == "namedigits":
            first = "150 Opening BINARY mode data connection for %s\r\n" % path
        elif s == "nosize":
            first = "150 Here comes the file.\r\n"
        else:
            first = "150 Opening BINARY mode data connection for %s (%d bytes).\r\n" % (path, len(body))
        if s == "together":
            data = self.open_data()
            data.sendall(body)
            data.close()
            self.send(first + "226 Transfer complete.\r\n")
            return True
        self.send(first)
        data = self.open_data()
        if s == "stall":
            self.conn.settimeout(30)
            try:
                while self.conn.recv(100):
                    pass
            except OSError:
                pass
            data.close()
            return False
        if s == "short":
            data.sendall(body[: len(body) // 2])
            data.close()
            self.send("226 Transfer complete.\r\n")
            return True
        if s == "dropxfer":
            data.sendall(body[: len(body) // 2])
            self.conn.shutdown(socket.SHUT_RDWR)
            time.sleep(0.2)
            data.close()
            return False
        data.sendall(body)
        if s == "late":
            self.send("226 Transfer complete.\r\n")
            time.sleep(0.2)
            data.close()
        else:
            data.close()
            if s == "early":
                time.sleep(0.2)
            self.send("226 Transfer complete.\r\n")
        return True

    def run(self):
        for piece in GREETING:
            self.conn.sendall(piece)
            time.sleep(0.03)
        buf = b""
        while True:
            try:
                chunk = self.conn.recv(4096)
            except OSError:
                return
            if not chunk:
                return
            buf += chunk
            while b"\n" in buf:
                raw, buf = buf.split(b"\n", 1)
                line = raw.rstrip(b"\r").decode("latin-1")
                verb, _, arg = line.partition(" ")
                verb = verb.upper()
                if verb == "USER":
                    if not self.on_user(arg):
                        return
                    continue
                self.record(line)
                if verb == "PASS":
                    self.send("230 Login successful.\r\n")
                elif verb == "TYPE":
                    self.send("200 Switching to Binary mode.\r\n")
                elif verb == "PASV":
                    self.on_pasv()
                elif verb == "PORT":
                    self.on_port(arg)
                elif verb == "RETR":
                    if not self.on_retr(arg):
                        return
                elif verb == "QUIT":
                    self.send("221 Goodbye.\r\n")
                    return
                else:
                    self.send("502 Command not implemented.\r\n")


def serve(conn):
    session = Session(conn)
    try:
        session.run()
    except OSError:
        pass
    finally:
        for s in (session.pasv, conn):
            try:
                if s:
                    s.close()
            except OSError:
                pass
        if session.log:
            session.log.close()


def main():
    os.makedirs(LOGDIR, exist_ok=True)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((ADDR, PORT))
    server.listen(16)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
