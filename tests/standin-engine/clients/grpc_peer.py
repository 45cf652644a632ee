"""A gRPC host and client over TLS (HTTP/2 only), and a TLS client that asks which protocol it gets.

host --cert PEM --key PEM          serves kestrion.Echo/Say on 127.0.0.1, prints its port, runs until stdin closes
call --target HOST:PORT --ca PEM [--proxy PORT]
                                   one call of Say through the proxy (or straight), prints the answer
alpn --authority HOST:PORT --ca PEM --proxy PORT
                                   opens a tunnel, offers h2 and http/1.1, prints the protocol chosen ("none")
"""
import argparse
import concurrent.futures
import socket
import ssl
import sys

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["host", "call", "alpn"])
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--target")
parser.add_argument("--authority")
parser.add_argument("--ca")
parser.add_argument("--proxy")
args = parser.parse_args()


def read(path):
    with open(path, "rb") as f:
        return f.read()


if args.mode == "host":
    import grpc

    server = grpc.server(concurrent.futures.ThreadPoolExecutor(max_workers=4))
    say = grpc.unary_unary_rpc_method_handler(lambda request, context: b"echo: " + request)
    server.add_generic_rpc_handlers((grpc.method_handlers_generic_handler("kestrion.Echo", {"Say": say}),))
    port = server.add_secure_port("127.0.0.1:0", grpc.ssl_server_credentials([(read(args.key), read(args.cert))]))
    server.start()
    print(port, flush=True)
    sys.stdin.read()
    server.stop(0)
elif args.mode == "call":
    import grpc

    options = [("grpc.http_proxy", "http://127.0.0.1:" + args.proxy)] if args.proxy else [("grpc.enable_http_proxy", 0)]
    credentials = grpc.ssl_channel_credentials(root_certificates=read(args.ca))
    with grpc.secure_channel(args.target, credentials, options) as channel:
        try:
            print(channel.unary_unary("/kestrion.Echo/Say")(b"hello", timeout=30).decode())
        except grpc.RpcError as error:
            print("failed:", error.code(), error.details())
else:
    tunnel = socket.create_connection(("127.0.0.1", int(args.proxy)), timeout=30)
    tunnel.sendall(("CONNECT %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (args.authority, args.authority)).encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += tunnel.recv(1)
    context = ssl.create_default_context(cafile=args.ca)
    context.set_alpn_protocols(["h2", "http/1.1"])
    secured = context.wrap_socket(tunnel, server_hostname=args.authority.rsplit(":", 1)[0])
    print(secured.selected_alpn_protocol() or "none")
