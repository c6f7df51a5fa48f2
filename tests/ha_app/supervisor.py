#!/usr/bin/env python3
"""A stand-in for Home Assistant's Supervisor, for the app's rehearsal: the services API
that hands an app the MQTT service's credentials (bearer token checked), and the ingress
proxy that puts the app's page under /api/hassio_ingress/TOKEN/ as Home Assistant does
(prefix stripped, X-Ingress-Path and the logged-in user added, the browser's own Host kept,
WebSockets carried), connecting to the app from the Supervisor's address.
  supervisor.py --address 172.30.32.2 --token T --mqtt '{"host": ...}'
                --ingress-listen 127.0.0.1:8123 --app 172.30.32.5:8099 --session S
Each request is one line on standard output."""
import argparse
import http.client
import http.server
import json
import select
import socket
import socketserver
import sys
import threading

HOP = {"connection", "keep-alive", "proxy-connection", "transfer-encoding", "te", "trailer", "upgrade",
       "proxy-authorization", "proxy-authenticate", "content-length"}
USER = {"X-Remote-User-Id": "3f1c0e7d9a", "X-Remote-User-Name": "ada", "X-Remote-User-Display-Name": "Ada Lovelace"}


def log(*parts):
    print(*parts, flush=True)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def services(args):
    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def answer(self, code, body):
            data = json.dumps(body).encode()
            self.send_response(code)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            if self.headers.get("Authorization") != f"Bearer {args.token}":
                log("services: refused", self.path, "from", self.client_address[0])
                return self.answer(401, {"result": "error", "message": "Unauthorized"})
            if self.path != "/services/mqtt":
                return self.answer(404, {"result": "error", "message": "no such service"})
            log("services: mqtt to", self.client_address[0])
            self.answer(200, {"result": "ok", "data": json.loads(args.mqtt)})

    return Server((args.address, 80), Handler)


def ingress(args):
    prefix = f"/api/hassio_ingress/{args.session}"
    app_host, app_port = args.app.rsplit(":", 1)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *a):
            pass

        def upstream_headers(self):
            out = [(k, v) for k, v in self.headers.items()
                   if k.lower() not in HOP and not k.lower().startswith("x-remote-user") and k.lower() != "x-ingress-path"]
            out += [("X-Ingress-Path", prefix), ("X-Forwarded-For", self.client_address[0]),
                    ("X-Forwarded-Proto", "http"), ("X-Forwarded-Host", self.headers.get("Host", ""))]
            out += list(USER.items())
            return out

        def path_for_app(self):
            if self.path != prefix and not self.path.startswith(prefix + "/"):
                return None
            return self.path[len(prefix):] or "/"

        def refuse(self, code, text):
            data = text.encode()
            self.send_response(code)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def handle_one(self):
            path = self.path_for_app()
            if path is None:
                return self.refuse(404, "not an ingress path")
            if self.headers.get("Upgrade", "").lower() == "websocket":
                return self.tunnel(path)
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length else None
            conn = http.client.HTTPConnection(app_host, int(app_port), timeout=30, source_address=(args.address, 0))
            try:
                conn.request(self.command, path, body=body, headers=dict(self.upstream_headers()))
                r = conn.getresponse()
                data = r.read()
            except OSError as e:
                log("ingress:", self.command, path, "->", e)
                return self.refuse(502, "the app does not answer")
            finally:
                conn.close()
            log("ingress:", self.command, path, "->", r.status)
            self.send_response(r.status, r.reason)
            for k, v in r.getheaders():
                if k.lower() not in HOP:
                    self.send_header(k, v)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def tunnel(self, path):
            up = socket.create_connection((app_host, int(app_port)), timeout=30, source_address=(args.address, 0))
            head = f"{self.command} {path} HTTP/1.1\r\n"
            keep = [(k, v) for k, v in self.headers.items() if k.lower() in ("connection", "upgrade")]
            for k, v in self.upstream_headers() + keep:
                head += f"{k}: {v}\r\n"
            up.sendall((head + "\r\n").encode())
            log("ingress: websocket", path)
            self.close_connection = True
            self.wfile.flush()
            # A browser sends no frame before the handshake's answer: nothing waits in rfile.
            client = self.connection
            ends = [client, up]
            try:
                while True:
                    ready, _, _ = select.select(ends, [], [], 300)
                    if not ready:
                        break
                    for s in ready:
                        data = s.recv(65536)
                        if not data:
                            return
                        (up if s is client else client).sendall(data)
            except OSError:
                pass
            finally:
                up.close()

        do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = handle_one

    host, port = args.ingress_listen.rsplit(":", 1)
    return Server((host, int(port)), Handler)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--address", required=True)
    p.add_argument("--token", required=True)
    p.add_argument("--mqtt", required=True)
    p.add_argument("--ingress-listen", required=True)
    p.add_argument("--app", required=True)
    p.add_argument("--session", required=True)
    args = p.parse_args()
    servers = [services(args), ingress(args)]
    for s in servers:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    log("supervisor: ready")
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
