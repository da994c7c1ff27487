#!/usr/bin/env python3
"""nginx in front of the test HTTP server, speaking HTTPS on 127.0.0.1.

    tls_front.py ROOT CERT KEY UPSTREAM_PORT [NGINX]

Runs nginx with CERT and KEY on a free port of 127.0.0.1, passing every request
on to http://127.0.0.1:UPSTREAM_PORT as it came; NGINX is the program, the
one on the PATH unless given. Writes ROOT/port once nginx
answers, and ends nginx and itself when ROOT/stop appears, its parent ends, or
after an hour.
"""
import os
import shutil
import socket
import subprocess
import sys
import time

ROOT, CERT, KEY, UPSTREAM = sys.argv[1:5]
NGINX = sys.argv[5] if len(sys.argv) > 5 else shutil.which("nginx")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    os.makedirs(os.path.join(ROOT, "temp"), exist_ok=True)
    port = free_port()
    # Bodies pass through unbuffered, so a stall or a cut body upstream stays one here;
    # redirects keep the address upstream gave, so a move to its HTTP twin stays one.
    config = """
pid {root}/nginx.pid;
error_log {root}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log off;
  client_body_temp_path {root}/temp;
  proxy_temp_path {root}/temp;
  fastcgi_temp_path {root}/temp;
  uwsgi_temp_path {root}/temp;
  scgi_temp_path {root}/temp;
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {cert};
    ssl_certificate_key {key};
    location / {{
      proxy_pass http://127.0.0.1:{upstream};
      proxy_http_version 1.1;
      proxy_buffering off;
      proxy_redirect off;
      proxy_set_header Host $http_host;
      proxy_read_timeout 3600s;
    }}
  }}
}}
""".format(root=ROOT, port=port, cert=CERT, key=KEY, upstream=UPSTREAM)
    conf = os.path.join(ROOT, "nginx.conf")
    with open(conf, "w") as f:
        f.write(config)
    nginx = subprocess.Popen([NGINX, "-p", ROOT, "-c", conf, "-g", "daemon off; master_process off;"],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    parent = os.getppid()
    started = time.monotonic()
    announced = False
    try:
        while time.monotonic() - started < 3600 and nginx.poll() is None:
            if not announced:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    tmp = os.path.join(ROOT, "port.tmp")
                    with open(tmp, "w") as f:
                        f.write(str(port))
                    os.replace(tmp, os.path.join(ROOT, "port"))
                    announced = True
                except OSError:
                    pass
            if os.path.exists(os.path.join(ROOT, "stop")) or os.getppid() != parent:
                break
            time.sleep(0.05)
    finally:
        nginx.terminate()
        try:
            nginx.wait(5)
        except subprocess.TimeoutExpired:
            nginx.kill()
        with open(os.path.join(ROOT, "stopped"), "w"):
            pass


main()
