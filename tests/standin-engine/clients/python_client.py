#!/usr/bin/env python3
"""Runs a plan of requests with http.client on one kept connection, straight to the host or through a
proxy, and prints one JSON line per answer (status, headers, body in base64)."""
import argparse
import base64
import http.client
import json
import sys
import time
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--origin", required=True, help="http://host:port of the real host")
    parser.add_argument("--proxy", type=int, help="proxy port on 127.0.0.1; straight to the host without")
    parser.add_argument("--label", default="run", help="replaces {run} in the plan's paths")
    parser.add_argument("plan", help="JSON file: a list of steps")
    args = parser.parse_args()
    with open(args.plan, "rb") as handle:
        steps = json.load(handle)

    origin = urllib.parse.urlsplit(args.origin)
    if args.proxy:
        connection = http.client.HTTPConnection("127.0.0.1", args.proxy, timeout=20)
    else:
        connection = http.client.HTTPConnection(origin.hostname, origin.port, timeout=20)
    for step in steps:
        if step.get("pause_ms"):
            # Longer than the host's keep-alive timeout: the host closes the connection it kept.
            time.sleep(step["pause_ms"] / 1000)
            if not args.proxy:
                connection.close()  # http.client does not notice a host closing; it opens anew
        path = step["path"].replace("{run}", args.label)
        target = args.origin + path if args.proxy else path
        payload = None
        if "body_file" in step:
            with open(step["body_file"], "rb") as handle:
                payload = handle.read()
        headers = dict(step.get("headers", {}))
        # Straight to the host, a kept connection the host closed meanwhile is opened anew once, as
        # browsers do; through the proxy nothing is forgiven.
        for attempt in (1, 2):
            body = payload
            if payload is not None and step.get("chunked"):  # no length: http.client sends it chunked
                body = iter([payload[:len(payload) // 2], payload[len(payload) // 2:]])
            try:
                connection.request(step["method"], target, body=body, headers=headers)
                response = connection.getresponse()
                data = response.read()
                print(json.dumps({"status": response.status, "headers": response.getheaders(),
                                  "body_b64": base64.b64encode(data).decode()}), flush=True)
                break
            except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError) as error:
                connection.close()
                if args.proxy or attempt == 2:
                    print(json.dumps({"error": "%s: %s" % (type(error).__name__, error)}), flush=True)
                    break
            except Exception as error:  # reported, and the next step goes on a new connection
                print(json.dumps({"error": "%s: %s" % (type(error).__name__, error)}), flush=True)
                connection.close()
                break
    return 0


if __name__ == "__main__":
    sys.exit(main())
