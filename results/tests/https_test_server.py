#!/usr/bin/python3
"""HTTPS server on 127.0.0.1 for the results-upload tests.

Answers every GET with status 200 and the bytes of --reply-file (read anew for
each request, so a test can change the reply between requests), after
--stall-seconds of silence if given. Appends each request's path, one per
line, to --request-log. Listens on a free port and writes its number to
--port-file once it accepts connections (written to a temporary name first and
renamed, so a reader never sees half a number). Runs until it is signalled.
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
    parser.add_argument("--stall-seconds", type=float, default=0.0)
    args = parser.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            with open(args.request_log, "a", encoding="utf-8") as log:
                log.write(self.path + "\n")
            if args.stall_seconds > 0:
                time.sleep(args.stall_seconds)
            with open(args.reply_file, "rb") as reply:
                body = reply.read()
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *unused):
            pass

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
