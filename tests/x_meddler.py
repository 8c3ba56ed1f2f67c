# A go-between in front of an X server that, each time a line comes on its standard input, sends
# each client an X error with a made-up sequence number, between two whole packets of the server's:
# the test says when (once the box it waits for is drawn, the client idle), however slow the client
# was to get there. Given a round trip in milliseconds, it holds everything back half of that each
# way, as a link across an ocean would. With "first-only", it answers a client's first connection
# alone, and holds every later one unanswered; with "trickle", it hands on what the server says a
# byte every 2 s, so that the client never waits long on anything and never has a whole answer.
# Usage: x_meddler.py <the server's display number> [round trip ms [first-only|trickle]]; it takes
# the first free display from 600 on, writes its number, and serves until killed.
import queue, socket, struct, sys, threading, time

half_trip = (int(sys.argv[2]) if len(sys.argv) > 2 else 0) / 2000
first_only = len(sys.argv) > 3 and sys.argv[3] == "first-only"
trickle = len(sys.argv) > 3 and sys.argv[3] == "trickle"
served = 0

listener = socket.socket(socket.AF_UNIX)
for number in range(600, 700):
    try:
        listener.bind("\0/tmp/.X11-unix/X%d" % number)  # abstract: gone with the process
        break
    except OSError:
        continue
listener.listen(8)
print(number, flush=True)


def packets(sock):
    """What the server sends, a whole packet at a time: the setup's reply, then 32 bytes each,
    more for a reply or a generic event."""
    data, first = b"", True
    def size():
        if first:
            return 8 + 4 * struct.unpack_from("<H", data, 6)[0] if len(data) >= 8 else 8
        more = len(data) >= 32 and (data[0] == 1 or data[0] & 0x7F == 35)
        return 32 + (4 * struct.unpack_from("<I", data, 4)[0] if more else 0)
    while True:
        while len(data) < size():
            more = sock.recv(65536)
            if not more:
                return
            data += more
        n = size()
        yield data[:n]
        data, first = data[n:], False


clients = []  # each connection's socket to its client, with the lock for whole packets


def later(send):
    """send, called half a trip after each call of the function returned, in order."""
    if not half_trip:
        return send
    pending = queue.Queue()

    def deliver():
        while True:
            due, data = pending.get()
            time.sleep(max(0, due - time.monotonic()))
            send(data)

    threading.Thread(target=deliver, daemon=True).start()
    return lambda data: pending.put((time.monotonic() + half_trip, data))


def serve(client):
    global served
    served += 1
    if first_only and served > 1:
        while client.recv(65536):  # taken, never answered
            pass
        return
    xserver = socket.socket(socket.AF_UNIX)
    xserver.connect("\0/tmp/.X11-unix/X" + sys.argv[1])
    lock = threading.Lock()
    clients.append((client, lock))

    def to_client(packet):
        with lock:
            try:
                client.sendall(packet)
            except OSError:
                pass  # a connection that is gone

    def upstream():
        to_server = later(xserver.sendall)
        while data := client.recv(65536):
            to_server(data)

    threading.Thread(target=upstream, daemon=True).start()
    if trickle:
        while data := xserver.recv(65536):
            for byte in data:
                time.sleep(2)
                to_client(bytes([byte]))
        return
    downstream = later(to_client)
    for p in packets(xserver):
        downstream(p)


def meddle():
    for line in sys.stdin:
        for client, lock in clients:
            with lock:
                try:  # far ahead of any request made
                    client.sendall(struct.pack("<BBHIHB21x", 0, 3, 30000, 0x1234, 0, 20))
                except OSError:
                    pass  # a connection that is gone


threading.Thread(target=meddle, daemon=True).start()
while True:
    threading.Thread(target=serve, args=(listener.accept()[0],), daemon=True).start()
