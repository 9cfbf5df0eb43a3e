#!/usr/bin/python3
"""FTP server on loopback for the tests (pyftpdlib).

Binds the given loopback address (127.0.0.1 unless told) on the given port (0: a free one), prints "PORT <n>" once it listens, and appends
every command line it receives, from every session, to the command log.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", action="append", default=[], help="name:password:permissions")
    parser.add_argument("--command-log", default="")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    for account in args.user:
        name, password, perm = account.split(":", 2)
        authorizer.add_user(name, password, args.home, perm=perm)

    command_log = open(args.command_log, "a", buffering=1) if args.command_log else None

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if command_log is not None:
                command_log.write(line + "\n")
            super().pre_process_command(line, cmd, arg)

    Handler.authorizer = authorizer
    Handler.banner = "ferrix test server ready."
    Handler.auth_failed_timeout = 0

    logging.basicConfig(stream=sys.stderr, level=logging.DEBUG,
                        format="%(asctime)s %(message)s")
    server = FTPServer((args.host, args.port), Handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
