# A go-between in front of an X server that, a second into each connection, sends the client an X
# error with a made-up sequence number, between two whole packets of the server's. Usage:
# x_meddler.py <the server's display number>; it takes the first free display from 600 on, writes
# its number, and serves until killed.
import socket, struct, sys, threading, time

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


def meddle(client):
    xserver = socket.socket(socket.AF_UNIX)
    xserver.connect("\0/tmp/.X11-unix/X" + sys.argv[1])
    lock = threading.Lock()

    def upstream():
        while data := client.recv(65536):
            xserver.sendall(data)

    def inject():  # far ahead of any request made
        time.sleep(1)
        with lock:
            try:
                client.sendall(struct.pack("<BBHIHB21x", 0, 3, 30000, 0x1234, 0, 20))
            except OSError:
                pass  # a connection that is gone

    threading.Thread(target=upstream, daemon=True).start()
    threading.Thread(target=inject, daemon=True).start()
    for p in packets(xserver):
        with lock:
            client.sendall(p)


while True:
    threading.Thread(target=meddle, args=(listener.accept()[0],), daemon=True).start()
