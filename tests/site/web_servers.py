"""nginx, apache2 and lighttpd from Debian's packages, each serving one folder on 127.0.0.1.

Every server runs in the foreground with a configuration of its own under a work folder, on a
free port, and is stopped by its PID."""

import os
import socket
import subprocess
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


NGINX = """daemon off;
master_process off;
user root;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log {work}/access.log;
  client_body_temp_path {work}/body;
  proxy_temp_path {work}/proxy;
  fastcgi_temp_path {work}/fastcgi;
  uwsgi_temp_path {work}/uwsgi;
  scgi_temp_path {work}/scgi;
  types {{ application/octet-stream exe; text/plain ini; text/html html; }}
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port};
    root {root};
    autoindex off;
  }}
}}
"""

APACHE = """ServerRoot /usr/lib/apache2
ServerName 127.0.0.1
LoadModule mpm_event_module modules/mod_mpm_event.so
LoadModule authz_core_module modules/mod_authz_core.so
LoadModule dir_module modules/mod_dir.so
LoadModule autoindex_module modules/mod_autoindex.so
LoadModule mime_module modules/mod_mime.so
Listen 127.0.0.1:{port}
User nobody
Group nogroup
PidFile {work}/apache.pid
DefaultRuntimeDir {work}
Mutex file:{work} default
ErrorLog {work}/error.log
TypesConfig /etc/mime.types
DocumentRoot {root}
<Directory {root}>
  Options -Indexes
  Require all granted
</Directory>
"""

LIGHTTPD = """server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{work}/error.log"
dir-listing.activate = "disable"
mimetype.assign = (".exe" => "application/octet-stream", ".ini" => "text/plain",
                   ".html" => "text/html")
"""

SERVERS = {
    "nginx": (NGINX, lambda conf: ["/usr/sbin/nginx", "-c", conf]),
    "apache2": (APACHE, lambda conf: ["/usr/sbin/apache2", "-f", conf, "-DFOREGROUND"]),
    "lighttpd": (LIGHTTPD, lambda conf: ["/usr/sbin/lighttpd", "-D", "-f", conf]),
}


class WebServer:
    """One server on `root`; `base` is its URL ending in "/"."""

    def __init__(self, kind, root, work):
        template, command = SERVERS[kind]
        self.kind = kind
        self.work = os.path.abspath(work)
        os.makedirs(self.work, exist_ok=True)
        for attempt in range(3):
            self.port = free_port()
            conf = os.path.join(self.work, kind + ".conf")
            with open(conf, "w") as out:
                out.write(template.format(work=self.work, root=os.path.abspath(root),
                                          port=self.port))
            log = open(os.path.join(self.work, "output.log"), "ab")
            self.process = subprocess.Popen(command(conf), stdout=log, stderr=log,
                                            stdin=subprocess.DEVNULL)
            log.close()
            if self._wait_ready():
                self.base = "http://127.0.0.1:%d/" % self.port
                return
            self.stop()
        raise RuntimeError("%s did not start; see %s" % (kind, self.work))

    def _wait_ready(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
