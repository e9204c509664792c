#!/usr/bin/env python3
"""How many VGA sources one recorder thread holds: adds sources until frames run late.

One `ravelon camera` makes 640x480 JPEG frames at 10 fps. A camera draws and
encodes every frame for every client and serves at most 64 clients, so this
script shares one camera connection: a relay (a thread of this script) reads
the camera's stream and hands each whole part to every source connected to
it, as it arrives. The camera and the relay are pinned to core 1.

For each N, a fresh registry gets N sources (cam0 ...) reading the relay and
saving every frame (SaveInterval 10 ms, so jitter never skips one) into their
own store folders under a temporary folder; then `ravelon record --loops 1`
(one engine thread) runs pinned to core 0. Once every source has its stream
and a warm-up has passed, the recorder's CPU (utime + stime from /proc) is
taken over the measured window, its resident memory at the window's end.

Late frames are read from the stores: each saved frame carries the moment the
engine took it in. A frame is late when it came more than one frame interval
after it was due, that is when the gap between two consecutive saved frames of
one source inside the window exceeds two frame intervals (200 ms at 10 fps);
a frame saved one frame interval (100 ms, the pace at which the recorder saves
this source's frames) late already counts. Frames saved per source in the window
against the frames the relay sent in it tell about frames lost altogether.

The CPU per frame divides the recorder's CPU by the frames the relay handed
it in the window.

  bench/scale_bench.py [--ravelon build/release/apps/ravelon/ravelon]
                       [--sources 100,200,400,700,1000] [--seconds 20] [--warmup 5]
                       [--sync] [--without-saving] [--folder /dev/shm]

Prints one line per N: the recorder's CPU (% of one core) and microseconds per
frame, resident memory and memory per source, frames saved per source per
second (lowest, median), late frames, sources with a late frame, the longest
gap, and what the relay saw (its longest hand-out of one frame to all sources
and the most parts that waited for one source in the relay).
"""
import argparse, os, selectors, shutil, signal, socket, statistics, struct, subprocess, tempfile
import threading, time

FPS = 10
INTERVAL_MS = 1000 / FPS


class Relay(threading.Thread):
    """Reads the camera's multipart stream; sends each whole part to every client."""

    def __init__(self, camera_port):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0), backlog=4096)
        self.listener.setblocking(False)
        self.port = self.listener.getsockname()[1]
        self.camera = socket.create_connection(("127.0.0.1", camera_port))
        self.camera.sendall(b"GET /video HTTP/1.0\r\n\r\n")
        self.selector = selectors.DefaultSelector()
        self.clients = {}  # socket -> Client
        self.lock = threading.Lock()
        self.parts_sent = 0
        self.part_bytes = 0
        self.longest_handout = 0.0
        self.most_waiting = 0
        self.stopping = False

    class Client:
        def __init__(self):
            self.asked = False  # the request came; parts go out from the next one
            self.waiting = []  # memoryviews not yet taken by the socket
            self.parts = 0

    def run(self):
        self.selector.register(self.listener, selectors.EVENT_READ, "listen")
        self.camera.setblocking(False)
        self.selector.register(self.camera, selectors.EVENT_READ, "camera")
        stream = bytearray()
        head = None
        while not self.stopping:
            for key, events in self.selector.select(timeout=0.2):
                if key.data == "listen":
                    self.accept()
                elif key.data == "camera":
                    data = self.camera.recv(1 << 20)
                    if not data:
                        return
                    stream += data
                    if head is None:
                        end = stream.find(b"\r\n\r\n")
                        if end < 0:
                            continue
                        head = bytes(stream[:end + 4])
                        del stream[:end + 4]
                    for part in self.cut_parts(stream):
                        self.hand_out(part, head)
                else:
                    self.serve(key.fileobj, events)

    @staticmethod
    def cut_parts(stream):
        """Whole parts ("--boundary" head, Content-Length body, CR LF) off the front."""
        parts = []
        while True:
            end = stream.find(b"\r\n\r\n")
            if end < 0:
                return parts
            length = 0
            for line in bytes(stream[:end]).split(b"\r\n"):
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            total = end + 4 + length + 2
            if len(stream) < total:
                return parts
            parts.append(bytes(stream[:total]))
            del stream[:total]

    def accept(self):
        while True:
            try:
                sock, _ = self.listener.accept()
            except BlockingIOError:
                return
            sock.setblocking(False)
            with self.lock:
                self.clients[sock] = Relay.Client()
            self.selector.register(sock, selectors.EVENT_READ, "client")

    def hand_out(self, part, head):
        start = time.monotonic()
        view = memoryview(part)
        with self.lock:
            clients = list(self.clients.items())
        for sock, client in clients:
            if not client.asked:
                continue
            client.parts += 1
            client.waiting.append(view)
            self.flush(sock, client)
        self.parts_sent += 1
        self.part_bytes = len(part)
        self.longest_handout = max(self.longest_handout, time.monotonic() - start)

    def flush(self, sock, client):
        try:
            while client.waiting:
                sent = sock.send(client.waiting[0])
                if sent == len(client.waiting[0]):
                    client.waiting.pop(0)
                else:
                    client.waiting[0] = client.waiting[0][sent:]
                    break
        except (BlockingIOError, InterruptedError):
            pass
        except OSError:
            self.drop(sock)
            return
        self.most_waiting = max(self.most_waiting, len(client.waiting))
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if client.waiting else 0)
        self.selector.modify(sock, events, "client")

    def serve(self, sock, events):
        client = self.clients.get(sock)
        if client is None:
            return
        if events & selectors.EVENT_READ:
            try:
                data = sock.recv(4096)
            except OSError:
                data = b""
            if not data:
                return self.drop(sock)
            if not client.asked:
                client.asked = True
                client.waiting.append(memoryview(
                    b"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; "
                    b"boundary=ravelon-test-camera-boundary\r\n\r\n"))
        self.flush(sock, client)

    def drop(self, sock):
        self.selector.unregister(sock)
        with self.lock:
            self.clients.pop(sock, None)
        sock.close()

    def streaming_clients(self):
        with self.lock:
            return sum(1 for c in self.clients.values() if c.parts > 0)

    def client_count(self):
        with self.lock:
            return len(self.clients)


def write_registry(ravelon, work, count, port, sync, save):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for i in range(count):
        lines += [f"[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\cam{i}]",
                  '"Address"="127.0.0.1"', f'"Port"="{port}"', '"Url"="/video"',
                  f'"DBPath"="{work}/cam{i}/"', f'"DoSave"="{1 if save else 0}"',
                  '"SaveInterval"="10"', f'"SyncWrites"="{1 if sync else 0}"', ""]
    reg = os.path.join(work, "sources.reg")
    with open(reg, "w") as f:
        f.write("\n".join(lines))
    registry = os.path.join(work, "registry.db")
    subprocess.run([ravelon, "config", "--registry", registry, "import", reg], check=True)
    return registry


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_bytes(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def local_ms(t):
    lt = time.localtime(t)
    return ((lt.tm_hour * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000 + int((t % 1) * 1000)


def stamps(folder):
    """Milliseconds since local midnight of every saved frame, in saving order."""
    found = []
    names = sorted(n for n in os.listdir(folder) if n.endswith(".idx")) if os.path.isdir(folder) else []
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        for offset in range(0, len(data) - 17, 18):
            position, _, hhmmssmmm, _ = struct.unpack_from("<iiii", data, offset)
            if position <= 0:
                break
            hh, rest = divmod(hhmmssmmm, 10_000_000)
            mm, rest = divmod(rest, 100_000)
            ss, ms = divmod(rest, 1000)
            found.append(((hh * 60 + mm) * 60 + ss) * 1000 + ms)
    return found


def run_one(a, relay, count, save):
    work = tempfile.mkdtemp(prefix=f"ravelon-scale-{count}-", dir=a.folder)
    try:
        registry = write_registry(a.ravelon, work, count, relay.port, a.sync, save)
        recorder = subprocess.Popen(
            ["taskset", "-c", "0", a.ravelon, "record", "--registry", registry, "--loops", "1",
             "--save-every", "1", "--status", "lines", "--status-every", "86400", "-q"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 120
        while relay.streaming_clients() < count and time.monotonic() < deadline:
            time.sleep(0.2)
        connected = relay.streaming_clients()
        time.sleep(a.warmup)
        sent0, cpu0, t0 = relay.parts_sent, cpu_seconds(recorder.pid), time.time()
        relay.longest_handout, relay.most_waiting = 0.0, 0
        time.sleep(a.seconds)
        sent1, cpu1, t1 = relay.parts_sent, cpu_seconds(recorder.pid), time.time()
        rss = resident_bytes(recorder.pid)
        handout, waiting = relay.longest_handout, relay.most_waiting
        recorder.send_signal(signal.SIGTERM)
        stopped = True
        try:
            _, err = recorder.communicate(timeout=300)  # the release saves what is queued
        except subprocess.TimeoutExpired:
            recorder.kill()
            _, err = recorder.communicate()
            stopped = False
        deadline = time.monotonic() + 30
        while relay.client_count() > 0 and time.monotonic() < deadline:
            time.sleep(0.1)
        window = t1 - t0
        lo, hi = local_ms(t0), local_ms(t1)
        per_source, late, late_sources, longest = [], 0, 0, 0
        for i in range(count):
            mine = [s for s in stamps(f"{work}/cam{i}") if lo <= s <= hi]
            per_source.append(len(mine))
            gaps = [b - a_ for a_, b in zip(mine, mine[1:])]
            if len(mine) >= 1:
                gaps += [mine[0] - lo, hi - mine[-1]]  # no frame at all for a while is late too
            else:
                gaps.append(hi - lo)
            bad = sum(1 for g in gaps if g > 2 * INTERVAL_MS)
            late += bad
            late_sources += bad > 0
            longest = max(longest, max(gaps))
        frames = (sent1 - sent0) * connected  # handed to the recorder in the window
        cpu = cpu1 - cpu0
        return dict(count=count, save=save, connected=connected, cpu=100 * cpu / window,
                    us_per_frame=1e6 * cpu / max(frames, 1), rss=rss,
                    fps_min=min(per_source) / window, fps_median=statistics.median(per_source) / window,
                    sent=(sent1 - sent0) / window, late=late, late_sources=late_sources,
                    longest=longest, handout=1000 * handout, waiting=waiting,
                    errors=(err.strip().splitlines()[-3:] if recorder.returncode else []) +
                    ([] if stopped else ["did not finish saving its queues within 300 s of SIGTERM"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ravelon", default="build/release/apps/ravelon/ravelon")
    ap.add_argument("--sources", default="100,200,400,700,1000")
    ap.add_argument("--seconds", type=float, default=20, help="the measured window")
    ap.add_argument("--warmup", type=float, default=5, help="after every source has its stream")
    ap.add_argument("--sync", action="store_true", help="SyncWrites on (off by default)")
    ap.add_argument("--folder", default=None,
                    help="where the registry and stores go (default: the temporary folder); "
                         "/dev/shm takes the disk out of the measurement")
    ap.add_argument("--without-saving", action="store_true",
                    help="also run each N with saving off, for the CPU of ingest alone")
    a = ap.parse_args()
    a.ravelon = os.path.abspath(a.ravelon)
    os.sched_setaffinity(0, {1})  # the relay, and the camera started below
    camera = subprocess.Popen([a.ravelon, "camera", "--port", "0", "--fps", str(FPS), "--size",
                               "640x480"], stdout=subprocess.PIPE, text=True)
    try:
        port = int(camera.stdout.readline().strip().rsplit(":", 1)[1])
        relay = Relay(port)
        relay.start()
        print(f"machine: {os.cpu_count()} cores; recorder on core 0, camera and relay on core 1; "
              f"640x480 at {FPS} fps, every frame saved, sync {'on' if a.sync else 'off'}; "
              f"window {a.seconds:g} s after {a.warmup:g} s of warm-up; stores in "
              f"{a.folder or tempfile.gettempdir()}")
        print(f"{'N':>5} {'save':>4} {'CPU %':>6} {'us/frame':>8} {'RSS MiB':>8} {'KiB/src':>8} "
              f"{'fps min/med':>11} {'sent/s':>6} {'late':>5} {'srcs':>5} {'gap ms':>7} "
              f"{'relay ms':>8} {'waiting':>7}")
        for count in [int(n) for n in a.sources.split(",")]:
            for save in ([True, False] if a.without_saving else [True]):
                r = run_one(a, relay, count, save)
                print(f"{count:>5} {'on' if save else 'off':>4} {r['cpu']:>6.1f} "
                      f"{r['us_per_frame']:>8.0f} {r['rss'] / 2**20:>8.1f} "
                      f"{r['rss'] / count / 1024:>8.0f} "
                      f"{r['fps_min']:>5.1f}/{r['fps_median']:<5.1f} {r['sent']:>6.1f} "
                      f"{r['late'] if save else '-':>5} {r['late_sources'] if save else '-':>5} "
                      f"{r['longest'] if save else '-':>7} {r['handout']:>8.1f} {r['waiting']:>7}",
                      flush=True)
                if count == int(a.sources.split(",")[0]) and save:
                    print(f"      (a frame is {relay.part_bytes} bytes on the wire)")
                if r["connected"] < count:
                    print(f"      only {r['connected']} of {count} sources got their stream")
                for line in r["errors"]:
                    print("      recorder:", line)
        relay.stopping = True
    finally:
        camera.terminate()
        camera.wait()


if __name__ == "__main__":
    main()
