#!/usr/bin/python3
"""HTTPS server on 127.0.0.1 for the results-upload tests.

Answers every GET with status 200 and the bytes of --reply-file (read anew for
each request, so a test can change the reply between requests), in the
--shape of ReplyShape in test_servers.h (--seconds is the time it names).
Appends each request's path, one per line, to --request-log. Listens on a
free port and writes its number to --port-file once it accepts connections
(written to a temporary name first and renamed, so a reader never sees half a
number). Runs until it is signalled.
"""

import argparse
import http.server
import os
import ssl
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--reply-file", required=True)
    parser.add_argument("--request-log", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--shape", default="whole",
                        choices=["whole", "silent", "cut-off", "stall-after-body",
                                 "trickle", "endless"])
    parser.add_argument("--seconds", type=float, default=0.0)
    args = parser.parse_args()
    missing = 64  # bytes declared beyond the reply by cut-off and stall-after-body

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            with open(args.request_log, "a", encoding="utf-8") as log:
                log.write(self.path + "\n")
            if args.shape == "silent":
                time.sleep(args.seconds)
            with open(args.reply_file, "rb") as reply:
                body = reply.read()
            declared = len(body)
            if args.shape in ("cut-off", "stall-after-body"):
                declared += missing
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            if args.shape != "endless":
                self.send_header("Content-Length", str(declared))
            self.end_headers()
            if args.shape == "trickle":
                for byte in body:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(args.seconds)
                return
            self.wfile.write(body)
            self.wfile.flush()
            if args.shape == "stall-after-body":
                time.sleep(args.seconds)
            elif args.shape == "endless":
                filler = b" " * 16384
                while True:
                    self.wfile.write(filler)
            self.close_connection = True

        def log_message(self, *unused):
            pass

        def handle(self):
            try:
                super().handle()
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
                pass  # the client gave up, as the tests expect it to

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)

    temporary = args.port_file + ".tmp"
    with open(temporary, "w", encoding="ascii") as port_file:
        port_file.write(str(server.server_address[1]))
    os.rename(temporary, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
