#!/usr/bin/env python3
"""What 20 live-view clients cost the recorder: frame rate, client rates and memory of `record --http`.

One `ravelon camera` makes 640x480 JPEG frames at 25 fps; one `ravelon record
--http 127.0.0.1:0` records it as one source, saving every frame, and serves
its web view. The run has two phases of the same length, each after a short
settling time:

  0 clients   the recorder alone;
  N clients   N - 1 readers on /sources/cam/live.mjpg (threads of this script
              that read the multipart stream and count its parts) and one
              stalled client: it connects with a small receive buffer, reads
              the response head and then takes nothing more, so the server's
              writes to it really block.

Every half second the script asks /api/status for the source's frames and
packets_per_second and reads the recorder's VmRSS and CPU time from /proc.
The stalled connection is watched in /proc/net/tcp: the server has cut it off
once its end of the connection leaves ESTABLISHED (the server closes a client
that takes no bytes for 5 s); the kernel's send queue for it grows first.

  bench/web_clients_bench.py [--ravelon build/release/apps/ravelon/ravelon]
                             [--seconds 60] [--settle 5] [--clients 20]

Prints, per phase: the engine's frame rate (frames counted over the phase, and
the median of packets_per_second), the recorder's CPU (% of one core) and its
resident memory at the phase's start, highest and end; for the clients' phase
also each reader's frames per second (lowest, median, highest), this script's
own CPU, when the stalled client was cut off, and the recorder's resident
memory once the clients have gone.
"""
import argparse, json, os, shutil, signal, socket, statistics, subprocess, tempfile, threading
import time, urllib.request

FPS = 25


def read_proc(pid):
    """(VmRSS in bytes, user + system CPU seconds) of `pid`."""
    rss = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1]) * 1024
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return rss, (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def own_cpu():
    times = os.times()
    return times.user + times.system


def open_stream(port, receive_buffer=None):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:  # before connecting, so the window offered stays small
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    sock.connect(("127.0.0.1", port))
    sock.sendall(b"GET /sources/cam/live.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    return sock


class Reader(threading.Thread):
    """Reads a live stream to its end, counting whole parts by their Content-Length."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = open_stream(port)
        self.parts = 0
        self.status = None
        self.stopping = False

    def run(self):
        data = bytearray()
        try:
            while not self.stopping:
                chunk = self.sock.recv(1 << 16)
                if not chunk:
                    return
                data += chunk
                self.take_parts(data)
        except OSError:
            pass

    def take_parts(self, data):
        if self.status is None:
            end = data.find(b"\r\n\r\n")
            if end < 0:
                return
            self.status = bytes(data[:data.find(b"\r\n")]).decode(errors="replace")
            del data[:end + 4]
        while True:
            end = data.find(b"\r\n\r\n")
            if end < 0:
                return
            length = None
            for line in bytes(data[:end]).split(b"\r\n"):
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            if length is None:
                raise OSError("a part without Content-Length")
            if len(data) < end + 4 + length + 2:
                return
            del data[:end + 4 + length + 2]
            self.parts += 1

    def stop(self):
        self.stopping = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass  # the server closed it already
        self.sock.close()


class StalledClient(threading.Thread):
    """Reads the response head, then nothing: the server's writes to it block.

    Watches the server's end of the connection in /proc/net/tcp every 50 ms:
    how far its send queue grows, when it stops growing, and when the server
    closes it (the state leaves ESTABLISHED) or the connection is gone."""

    def __init__(self, web_port):
        super().__init__(daemon=True)
        self.web_port = web_port
        self.sock = open_stream(web_port, receive_buffer=4096)
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                break
            head += chunk
        self.stopped_reading = time.monotonic()
        self.status = head.split(b"\r\n", 1)[0].decode(errors="replace")
        self.local_port = self.sock.getsockname()[1]
        self.queued = 0  # the most bytes the server's send queue held
        self.queue_full_after = None  # seconds after the client stopped reading
        self.cut_after = None
        self.stopping = False

    def server_side(self):
        """(state, send queue bytes) of the server's end; None once it is gone."""
        with open("/proc/net/tcp") as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                local, remote = fields[1], fields[2]
                if (int(local.split(":")[1], 16) == self.web_port and
                        int(remote.split(":")[1], 16) == self.local_port):
                    return fields[3], int(fields[4].split(":")[0], 16)
        return None

    def run(self):
        while not self.stopping:
            now = time.monotonic() - self.stopped_reading
            side = self.server_side()
            if side is None or side[0] != "01":  # 01: ESTABLISHED
                self.cut_after = now
                return
            if side[1] > self.queued:
                self.queued, self.queue_full_after = side[1], now
            time.sleep(0.05)

    def report(self):
        if self.cut_after is None:
            return "still connected at the end"
        return (f"cut off {self.cut_after:.1f} s after it stopped reading; the server's send queue "
                f"had grown to {self.queued / 2**20:.1f} MiB by {self.queue_full_after:.1f} s")


def status_of(web_port):
    with urllib.request.urlopen(f"http://127.0.0.1:{web_port}/api/status", timeout=5) as answer:
        return json.load(answer)["sources"][0]


def measure(recorder, web_port, seconds):
    """Samples every half second for `seconds`; returns what the phase saw."""
    samples = []  # (time, frames, packets_per_second, rss, cpu)
    end = time.monotonic() + seconds
    while True:
        source = status_of(web_port)
        rss, cpu = read_proc(recorder.pid)
        samples.append((time.monotonic(), source["frames"], source["packets_per_second"], rss, cpu))
        if time.monotonic() >= end:
            break
        time.sleep(0.5)
    (t0, frames0, _, rss0, cpu0), (t1, frames1, _, rss1, cpu1) = samples[0], samples[-1]
    return dict(window=t1 - t0, fps=(frames1 - frames0) / (t1 - t0),
                pps=statistics.median(s[2] for s in samples), cpu=100 * (cpu1 - cpu0) / (t1 - t0),
                rss=(rss0, max(s[3] for s in samples), rss1))


def wait_for(what, done, limit):
    end = time.monotonic() + limit
    while not done():
        if time.monotonic() >= end:
            raise SystemExit(f"gave up waiting for {what}")
        time.sleep(0.1)


def print_phase(label, m):
    mib = [f"{r / 2**20:.1f}" for r in m["rss"]]
    print(f"{label:>10}: engine {m['fps']:.2f} frames/s (packets_per_second median "
          f"{m['pps']:.2f}), recorder CPU {m['cpu']:.1f} %, RSS MiB start/max/end "
          f"{'/'.join(mib)} over {m['window']:.1f} s", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ravelon", default="build/release/apps/ravelon/ravelon")
    ap.add_argument("--seconds", type=float, default=60, help="the length of each phase")
    ap.add_argument("--settle", type=float, default=5, help="before each phase is measured")
    ap.add_argument("--clients", type=int, default=20, help="readers and the stalled one")
    a = ap.parse_args()
    ravelon = os.path.abspath(a.ravelon)
    work = tempfile.mkdtemp(prefix="ravelon-web-clients-")
    camera = recorder = None
    try:
        camera = subprocess.Popen([ravelon, "camera", "--port", "0", "--fps", str(FPS)],
                                  stdout=subprocess.PIPE, text=True)
        camera_port = camera.stdout.readline().strip().rsplit(":", 1)[1]
        registry = os.path.join(work, "registry.db")
        subprocess.run([ravelon, "config", "add-source", "cam", "--registry", registry,
                        "--address", "127.0.0.1", "--port", camera_port, "--url", "/video",
                        "--store", os.path.join(work, "cam") + "/", "--save",
                        "--save-interval", "10"], check=True, stdout=subprocess.DEVNULL)
        log = open(os.path.join(work, "record.log"), "w+")
        recorder = subprocess.Popen([ravelon, "record", "--registry", registry, "--http",
                                     "127.0.0.1:0", "--status", "lines"], stdout=log,
                                    stderr=subprocess.STDOUT)
        found = []

        def web_port():
            log.seek(0)
            for line in log:
                if "Web view on http://127.0.0.1:" in line:
                    found.append(int(line.rsplit(":", 1)[1].strip(" /\n")))
            return found

        wait_for("the web view", web_port, 20)
        port = found[0]
        wait_for("frames", lambda: status_of(port)["frames"] > 0, 20)
        time.sleep(a.settle)
        source = status_of(port)
        print(f"machine: {os.cpu_count()} cores, load {os.getloadavg()[0]:.1f}; camera 640x480 "
              f"at {FPS} fps ({source['bytes'] // source['frames']} bytes a frame), every frame "
              f"saved; {a.seconds:g} s per phase after {a.settle:g} s", flush=True)
        print_phase("0 clients", measure(recorder, port, a.seconds))

        stalled = StalledClient(port)
        stalled.start()
        readers = [Reader(port) for _ in range(a.clients - 1)]
        for r in readers:
            r.start()
        time.sleep(a.settle)
        parts0, t0, own0 = [r.parts for r in readers], time.monotonic(), own_cpu()
        m = measure(recorder, port, a.seconds)
        parts1, t1, own1 = [r.parts for r in readers], time.monotonic(), own_cpu()
        rates = sorted((p1 - p0) / (t1 - t0) for p0, p1 in zip(parts0, parts1))
        print_phase(f"{a.clients} clients", m)
        print(f"{'':>10}  readers ({len(readers)}) frames/s: min {rates[0]:.2f}, median "
              f"{statistics.median(rates):.2f}, max {rates[-1]:.2f}; answers: "
              f"{sorted(set(r.status for r in readers))}; this script's CPU "
              f"{100 * (own1 - own0) / (t1 - t0):.1f} %")
        print(f"{'':>10}  stalled client ({stalled.status}): {stalled.report()}", flush=True)
        stalled.stopping = True
        for r in readers:
            r.stop()
        time.sleep(a.settle)
        print(f"{'':>10}  {a.settle:g} s after the clients left: RSS "
              f"{read_proc(recorder.pid)[0] / 2**20:.1f} MiB", flush=True)
    finally:
        for process in (recorder, camera):
            if process and process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
