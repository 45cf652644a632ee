#!/usr/bin/env python3
"""A WebSocket host or client built on the websockets package.

host: serves on 127.0.0.1 (TLS with --cert/--key), prints "PORT <n>", greets each client with a text
message as soon as it switched, then echoes every message; /forbidden is refused with 403.
client: opens --url straight, through a proxy port (--proxy, the request sent to the proxy as it
would be to the host) or through a CONNECT tunnel (--tunnel), sends a text and a large binary message,
and prints one JSON line: the greeting and echoes (binary ones as SHA-256), or the refusal's status.
"""
import argparse
import asyncio
import hashlib
import http
import json
import socket
import ssl
import sys
import urllib.parse

import websockets

LARGE = bytes(range(256)) * 1024  # 256 KiB, so the relay reads it in many pieces


async def serve(args):
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)

    async def refuse(path, headers):
        if path == "/forbidden":
            return http.HTTPStatus.FORBIDDEN, [("Content-Type", "text/plain")], b"not for you\n"
        return None

    async def echo(connection):
        await connection.send("hello from host")
        async for message in connection:
            await connection.send(message)

    async with websockets.serve(echo, "127.0.0.1", 0, ssl=context, process_request=refuse) as server:
        print("PORT", server.sockets[0].getsockname()[1], flush=True)
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)  # until stdin closes


def opened_socket(args, url):
    if not args.proxy and not args.tunnel:
        return None
    sock = socket.create_connection(("127.0.0.1", args.proxy or args.tunnel), timeout=20)
    if args.tunnel:
        authority = f"{url.hostname}:{url.port}"
        sock.sendall(f"CONNECT {authority} HTTP/1.1\r\nHost: {authority}\r\n\r\n".encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            piece = sock.recv(1)
            if not piece:
                raise RuntimeError("the proxy closed the tunnel: " + answer.decode(errors="replace"))
            answer += piece
        if not answer.startswith(b"HTTP/1.1 200"):
            raise RuntimeError("CONNECT refused: " + answer.decode(errors="replace"))
    sock.settimeout(None)
    return sock


async def talk(args):
    url = urllib.parse.urlsplit(args.url)
    options = {"open_timeout": 20, "max_size": 2**22}
    sock = opened_socket(args, url)
    if sock:
        options["sock"] = sock
    if url.scheme == "wss":
        options["ssl"] = ssl.create_default_context(cafile=args.ca)
        options["server_hostname"] = url.hostname
    try:
        async with websockets.connect(args.url, **options) as connection:
            result = {"greeting": await connection.recv()}
            await connection.send("ping through")
            result["text"] = await connection.recv()
            await connection.send(LARGE)
            echoed = await connection.recv()
            result["binary"] = hashlib.sha256(echoed).hexdigest() if isinstance(echoed, bytes) else echoed
    except websockets.exceptions.InvalidStatusCode as refused:
        result = {"refused": refused.status_code}
    print(json.dumps(result), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("role", choices=["host", "client"])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--url")
    parser.add_argument("--proxy", type=int)
    parser.add_argument("--tunnel", type=int)
    parser.add_argument("--ca")
    args = parser.parse_args()
    if args.role == "host":
        asyncio.run(serve(args))
    else:
        asyncio.run(asyncio.wait_for(talk(args), 30))


if __name__ == "__main__":
    main()
