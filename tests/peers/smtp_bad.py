# A misbehaving mail server on 127.0.0.1, the port given as the first
# argument: "silent" accepts and never answers, "trickle" sends a byte every
# 0.2 s and never ends a line, "close" sends half a greeting and closes.
# Prints "ready", then "conn" for every connection it accepts.
import socket, sys, threading, time

mode = sys.argv[2]
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(5)
print("ready", flush=True)

def serve(c):
    try:
        if mode == "trickle":
            while True:
                c.send(b"2")
                time.sleep(0.2)
        elif mode == "close":
            c.send(b"220 half")
            c.close()
        else:
            time.sleep(3600)
    except OSError:
        pass

while True:
    c, _ = s.accept()
    print("conn", flush=True)
    threading.Thread(target=serve, args=(c,), daemon=True).start()
