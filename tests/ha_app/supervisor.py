#!/usr/bin/env python3
"""A stand-in for Home Assistant's Supervisor, for the app's rehearsal: the services API
that hands an app the MQTT service's credentials (bearer token checked), and the ingress
proxy that puts the app's page under /api/hassio_ingress/SESSION/ as Home Assistant does
(prefix stripped, X-Ingress-Path and the logged-in user added, the browser's own Host kept,
WebSockets carried), connecting to the app from the Supervisor's address.
  supervisor.py ADDRESS TOKEN MQTT_JSON INGRESS_LISTEN APP SESSION
Each request is one line on standard output."""
import http.client
import http.server
import json
import select
import socket
import socketserver
import sys
import threading

HOP = {"connection", "keep-alive", "transfer-encoding", "te", "trailer", "upgrade", "content-length"}
USER = {"X-Remote-User-Id": "3f1c0e7d9a", "X-Remote-User-Name": "ada", "X-Remote-User-Display-Name": "Ada Lovelace"}


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def answer(self, code, data, headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


class Services(Handler):
    def do_GET(self):
        if self.headers.get("Authorization") != f"Bearer {TOKEN}":
            print("services: refused", self.path, "from", self.client_address[0], flush=True)
            return self.answer(401, b'{"result": "error", "message": "Unauthorized"}')
        if self.path != "/services/mqtt":
            return self.answer(404, b'{"result": "error", "message": "no such service"}')
        print("services: mqtt to", self.client_address[0], flush=True)
        self.answer(200, json.dumps({"result": "ok", "data": json.loads(MQTT)}).encode())


class Ingress(Handler):
    def forwarded(self):
        out = {k: v for k, v in self.headers.items() if k.lower() not in HOP and not k.lower().startswith("x-remote-user")}
        out.update({"X-Ingress-Path": PREFIX, "X-Forwarded-For": self.client_address[0], **USER})
        return out

    def proxy(self):
        if self.path != PREFIX and not self.path.startswith(PREFIX + "/"):
            return self.answer(404, b"not an ingress path")
        path = self.path[len(PREFIX):] or "/"
        print("ingress:", self.command, path, flush=True)
        if self.headers.get("Upgrade", "").lower() == "websocket":
            return self.tunnel(path)
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        conn = http.client.HTTPConnection(APP[0], APP[1], timeout=30, source_address=(ADDRESS, 0))
        try:
            conn.request(self.command, path, body=body or None, headers=self.forwarded())
            r = conn.getresponse()
            data = r.read()
        except OSError as e:
            return self.answer(502, str(e).encode())
        finally:
            conn.close()
        self.answer(r.status, data, [(k, v) for k, v in r.getheaders() if k.lower() not in HOP])

    def tunnel(self, path):
        up = socket.create_connection(APP, timeout=30, source_address=(ADDRESS, 0))
        head = {**self.forwarded(), "Connection": "Upgrade", "Upgrade": "websocket"}
        up.sendall((f"GET {path} HTTP/1.1\r\n" + "".join(f"{k}: {v}\r\n" for k, v in head.items()) + "\r\n").encode())
        self.close_connection = True
        # A browser sends no frame before the handshake's answer: nothing waits in rfile.
        ends = [self.connection, up]
        try:
            while (ready := select.select(ends, [], [], 300)[0]):
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    (up if s is self.connection else self.connection).sendall(data)
        except OSError:
            pass
        finally:
            up.close()

    do_GET = do_POST = do_PUT = do_DELETE = proxy


if __name__ == "__main__":
    ADDRESS, TOKEN, MQTT, listen, app, session = sys.argv[1:7]
    APP = (app.rsplit(":", 1)[0], int(app.rsplit(":", 1)[1]))
    PREFIX = f"/api/hassio_ingress/{session}"
    servers = [Server((ADDRESS, 80), Services), Server((listen.rsplit(":", 1)[0], int(listen.rsplit(":", 1)[1])), Ingress)]
    for s in servers:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    print("supervisor: ready", flush=True)
    threading.Event().wait()
