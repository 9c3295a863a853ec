"""A hostile host on the test LAN, run inside the router's network namespace: it answers every SSDP
search from its own address with the location it is given, counts the searches it sees (one byte
each in --count), and serves a description of the chosen kind over HTTP on its own address.

  hostile_host.py --address 10.66.0.66 --count FILE --location URL [--description KIND]

KIND: "forged" (a control URL on another host, --control), "flood" (4 MiB of 0xFF).
"""
import argparse
import http.server
import socket
import struct
import threading

SEARCH_GROUP = "239.255.255.250"
FLOOD_BYTES = 4 * 1024 * 1024


def answer(location):
    return ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nEXT:\r\n"
            "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\nUSN: uuid:bad::upnp:rootdevice\r\n"
            "LOCATION: %s\r\n\r\n" % location).encode()


def description(kind, control):
    if kind == "flood":
        return b"\xff" * FLOOD_BYTES
    return ("<root><serviceList><service><serviceType>urn:schemas-upnp-org:service:WANIPConnection:1"
            "</serviceType><controlURL>%s</controlURL></service></serviceList></root>" % control).encode()


def serve_http(address, body):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        do_POST = do_GET

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer((address, 5000), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--count", required=True)
    parser.add_argument("--location", required=True)
    parser.add_argument("--description", default="")
    parser.add_argument("--control", default="")
    args = parser.parse_args()
    if args.description:
        serve_http(args.address, description(args.description, args.control))

    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("", 1900))
    membership = struct.pack("4s4s", socket.inet_aton(SEARCH_GROUP), socket.inet_aton(args.address))
    listener.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    speaker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    speaker.bind((args.address, 0))
    with open(args.count, "ab", buffering=0) as count:
        print("ready", flush=True)
        while True:
            data, sender = listener.recvfrom(4096)
            if data.startswith(b"M-SEARCH"):
                count.write(b".")
                speaker.sendto(answer(args.location), sender)


if __name__ == "__main__":
    main()
