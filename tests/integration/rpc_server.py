#!/usr/bin/python3
"""A JSON-RPC 2.0 endpoint at "/rpc" on 127.0.0.1 for the deployment tests.

Built on python3-jsonrpclib-pelix, so the requests are checked by a JSON-RPC 2.0 peer that is
not ours. Every request body is appended to LOG as one JSON line {"path", "body"}. How the
server answers is read from MODE_FILE before each request:
  ok      -> {"jsonrpc": "2.0", "result": "ok", "id": ...}       (through the library)
  OK      -> result "OK"
  busy    -> result "busy" and an "error" text                     (written by hand: a
             JSON-RPC 2.0 answer never carries both, but the servers of the field do)
  fault   -> the method raises: the library answers with an "error" object
  plain   -> the text "Done" (no JSON)
  broken  -> the text "{broken" (starts like JSON, is not)
  silent  -> never answers (until the test stops the server)
  endless -> an answer that never ends (JSON text streamed until the client hangs up, at most
             a minute)
  redirect -> "302 Found" to another path
  error500 -> "500 Internal Server Error" with a JSON-RPC answer as its body
Usage: rpc_server.py PORT_FILE LOG MODE_FILE
"""
import json
import sys
import threading

from jsonrpclib.SimpleJSONRPCServer import (PooledJSONRPCServer,
                                            SimpleJSONRPCRequestHandler)

PORT_FILE, LOG, MODE_FILE = sys.argv[1:4]
LOCK = threading.Lock()
STOP = threading.Event()


def mode():
    try:
        with open(MODE_FILE) as f:
            return f.read().strip() or "ok"
    except OSError:
        return "ok"


def log(path, body):
    with LOCK:
        with open(LOG, "a") as f:
            f.write(json.dumps({"path": path, "body": body}) + "\n")


class Handler(SimpleJSONRPCRequestHandler):
    rpc_paths = ("/rpc",)

    def log_message(self, *args):
        pass

    def _raw(self, text):
        data = text.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-type", "text/plain")
        self.send_header("Content-length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        m = mode()
        if m in ("ok", "OK", "fault"):
            return super().do_POST()
        length = int(self.headers.get("content-length", "0"))
        body = self.rfile.read(length).decode("utf-8")
        log(self.path, body)
        if m == "silent":
            STOP.wait(120)
            return
        if m == "plain":
            return self._raw("Done")
        if m == "endless":
            self.send_response(200)
            self.send_header("Content-type", "application/json")
            self.end_headers()
            chunk = b" " * 65536
            try:
                self.wfile.write(b'{"jsonrpc": "2.0", "result": "')
                for _ in range(60 * 200):
                    self.wfile.write(chunk)
                    if STOP.wait(0.005):
                        break
            except OSError:
                pass
            return
        if m == "redirect":
            self.send_response(302)
            self.send_header("Location", "/elsewhere")
            self.send_header("Content-length", "0")
            self.end_headers()
            return
        if m == "error500":
            data = json.dumps({"jsonrpc": "2.0", "result": "ok", "id": 1}).encode("utf-8")
            self.send_response(500)
            self.send_header("Content-type", "application/json")
            self.send_header("Content-length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            return
        if m == "broken":
            return self._raw("{broken")
        if m == "busy":
            req = json.loads(body)
            return self._raw(json.dumps({"jsonrpc": "2.0", "id": req.get("id"),
                                         "result": "busy", "error": "Channel is busy"}))
        return self._raw("unknown mode " + m)


class Server(PooledJSONRPCServer):
    def _marshaled_dispatch(self, data, dispatch_method=None, path=None):
        log(path, data)
        return super()._marshaled_dispatch(data, dispatch_method, path)


def answer(*params):
    m = mode()
    if m == "fault":
        raise RuntimeError("Unknown group")
    return m  # "ok" or "OK"


server = Server(("127.0.0.1", 0), requestHandler=Handler, logRequests=False)
for name in ("command", "stop_channel", "start_channel", "restart_pelmora", "reboot_system",
             "halt_system", "save_stats", "setvariable"):
    server.register_function(answer, name)
with open(PORT_FILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os  # noqa: E402
os.rename(PORT_FILE + ".tmp", PORT_FILE)
try:
    server.serve_forever(poll_interval=0.1)
finally:
    STOP.set()
