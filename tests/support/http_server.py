#!/usr/bin/env python3
"""HTTP server for the download tests, on 127.0.0.1 and a free port.

    http_server.py ROOT [PORT [ADDRESS]]

Serves the files under ROOT/www, on PORT when one is given (0: a free one) and
on ADDRESS (127.0.0.1 unless given; another loopback address such as 127.0.0.2
stands for another host). The first path segment chooses the reply:
  /ok/NAME         200 with Content-Length (404 when ROOT/www/NAME is missing)
  /slow/NAME       as /ok/, the body trickled out over about two seconds
  /chunked/NAME    200, chunked, no Content-Length
  /short/NAME      Content-Length of the whole file, half the body, then the connection closes
  /stall/NAME      reads the request and answers nothing
  /stallbody/NAME  headers and half the body, then nothing more
  /redirect/NAME   302 to /ok/NAME
  /moved/NAME      302 to the address that the file NAME holds (another host, another scheme)
  /fail/NAME       500
  /203/NAME        203 with the file and its Content-Length
Any other path is served as /ok/ serves it: /orvand/NAME is ROOT/www/orvand/NAME.
Writes ROOT/port (the port it listens on) and ROOT/closed_port (a port nobody
listens on), appends "PATH<TAB>USER-AGENT<TAB>HEADERS" to ROOT/requests.log
for every request (HEADERS: each "Name: value" as sent, joined by tabs), and
ends when ROOT/stop appears, its parent ends, or after an hour.
"""
import os
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = sys.argv[1]
WWW = os.path.join(ROOT, "www")
STOP = threading.Event()
LOG_LOCK = threading.Lock()
MODES = ("ok", "slow", "chunked", "short", "stall", "stallbody", "redirect", "moved", "fail", "203")


def write_atomic(name, text):
    tmp = os.path.join(ROOT, name + ".tmp")
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, os.path.join(ROOT, name))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with LOG_LOCK, open(os.path.join(ROOT, "requests.log"), "a") as log:
            headers = "\t".join("%s: %s" % item for item in self.headers.items())
            log.write("%s\t%s\t%s\n" % (self.path, self.headers.get("User-Agent", ""), headers))
        parts = self.path.lstrip("/").split("/", 1)
        mode, name = parts[0], parts[1] if len(parts) > 1 else ""
        if mode not in MODES:
            mode, name = "ok", self.path.lstrip("/")
        path = os.path.normpath(os.path.join(WWW, name))
        if mode == "stall":
            self.hold()
            return
        if mode == "redirect":
            self.reply(302, b"", [("Location", "/ok/" + name)])
            return
        if mode == "fail":
            self.reply(500, b"internal error\n")
            return
        if not path.startswith(WWW + os.sep) or not os.path.isfile(path):
            self.reply(404, b"not found\n")
            return
        with open(path, "rb") as f:
            body = f.read()
        if mode == "ok":
            self.reply(200, body)
        elif mode == "203":
            self.reply(203, body)
        elif mode == "moved":
            self.reply(302, b"", [("Location", body.decode().strip())])
        elif mode == "slow":
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.common_headers()
            step = max(1, len(body) // 10)
            for i in range(0, len(body), step):
                self.wfile.write(body[i:i + step])
                self.wfile.flush()
                time.sleep(0.2)
        elif mode == "chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.common_headers()
            for i in range(0, len(body), 1000):
                piece = body[i:i + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif mode in ("short", "stallbody"):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.common_headers()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            if mode == "stallbody":
                self.hold()
            else:
                self.connection.shutdown(socket.SHUT_RDWR)

    def common_headers(self):
        self.send_header("Cache-Control", "no-store")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def reply(self, code, body, headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.common_headers()
        self.wfile.write(body)

    def hold(self):
        # Keeps the connection open and silent until the client leaves or the server stops.
        self.connection.settimeout(0.1)
        while not STOP.is_set():
            try:
                if not self.connection.recv(4096):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.close_connection = True


def main():
    os.makedirs(WWW, exist_ok=True)
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    address = sys.argv[3] if len(sys.argv) > 3 else "127.0.0.1"
    server = ThreadingHTTPServer((address, port), Handler)
    server.daemon_threads = True
    spare = socket.socket()
    spare.bind((address, 0))
    write_atomic("closed_port", str(spare.getsockname()[1]))
    spare.close()
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()
    write_atomic("port", str(server.server_address[1]))
    parent = os.getppid()
    deadline = time.monotonic() + 3600
    while not os.path.exists(os.path.join(ROOT, "stop")):
        if os.getppid() != parent or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    STOP.set()
    server.shutdown()
    server.server_close()
    write_atomic("stopped", "")


if __name__ == "__main__":
    main()
