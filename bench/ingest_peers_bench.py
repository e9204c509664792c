#!/usr/bin/env python3
"""CPU per GB of reading one multipart JPEG stream: the engine against curl, GStreamer and FFmpeg.

Starts `ravelon camera --flood` (a cycle of 16 frames, made once, sent as fast as the
reader takes them; their sizes differ by some percent, as a real camera's do) for each
part size, pinned to one core. Every connection gets exactly the same stream: the
response head and N parts, then a close (`--fault close --after N`), so every
consumer reads the same bytes. In each round, each consumer reads the stream once,
pinned to the other core, in an order that rotates from round to round:

  engine     `ravelon record` with one source, saving off (beyond the engine it adds
             a frame counter and a save tick a second with nothing to save); stopped
             with SIGTERM as soon as it logs the connection's close
  curl       `curl -s -o /dev/null URL`
  gstreamer  `gst-launch-1.0 souphttpsrc location=URL ! multipartdemux ! fakesink`
  ffmpeg     `ffmpeg -f mpjpeg -i URL -c copy -f null -`
  floor      `read_floor_bench PORT PATH`: reads into one 128 KiB buffer until the close
             and looks at nothing, the least any reader of the bytes can pay here

A consumer's CPU is user + system time from the rusage of the ended child (its own
children included); kernel work done in softirq (loopback's receive path) is charged
to no reader. Each consumer also reads a one-part stream of the same parts right
after, its start-up and shut-down cost; "CPU s/GB" is the cost of the further bytes:
(CPU on the long stream - CPU on the one-part stream) / (bytes of the long stream -
bytes of the one-part stream). "whole run" divides the long stream's CPU by its
bytes, "range" gives its lowest and highest run (the noise of a shared machine).
Figures are medians over the rounds; a ratio to curl is the median of each round's
ratio, so that busy and quiet phases of the machine cancel. "camera busy" is the
camera's CPU during the run over the run's wall time: near 100 % means the camera,
not the consumer, set the pace.

  bench/ingest_peers_bench.py [--ravelon build/release/apps/ravelon/ravelon]
      [--floor build/release/bench/read_floor_bench] [--gigabytes 2] [--rounds 5]
      [--camera-core 0] [--consumer-core 1] [--consumers engine,curl,gstreamer,ffmpeg,floor]
      [--parts 50,280]
"""
import argparse, os, re, signal, statistics, subprocess, tempfile, threading, time

# Frame sizes whose flood frames (the test pattern at JPEG quality 75) make parts
# of about these many KB on average.
FRAME_SIZE_FOR_PART_KB = {50: "1920x1080", 280: "4096x3456"}
# Engine log lines that end the engine's run: the stream's close, or a failure.
CLOSED_LINE = "WinSock.Close"
FAILED_LINES = ("Connect timeout", "URL timeout.", "Process header timeout.",
                "Process part timeout.", "WinSock.Error")
RUN_TIMEOUT_SECONDS = 300


class Camera:
    """One `ravelon camera --flood` process serving `parts` parts per connection."""

    def __init__(self, ravelon, core, frame_size, parts):
        self.parts = parts
        self.process = subprocess.Popen(
            ["taskset", "-c", str(core), ravelon, "camera", "--port", "0", "--size", frame_size,
             "--flood", "--fault", "close", "--after", str(parts)],
            stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().strip().rsplit(":", 1)[1])
        self.url = f"http://127.0.0.1:{self.port}/video"
        self.stream_bytes = 0  # learnt from a first read

    def cpu_seconds(self):
        fields = open(f"/proc/{self.process.pid}/stat").read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        """Stops the camera; returns what went wrong: "" when every connection was
        sent all its parts."""
        self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate()
        counts = re.search(r"served (\d+) frames; connections: (\d+)", out)
        if not counts:
            return f"camera on port {self.port} ended without its counts"
        served, connections = map(int, counts.groups())
        if served != self.parts * connections:
            return (f"camera on port {self.port}: {served} parts served on {connections} "
                    f"connections of {self.parts} parts each")
        return ""


def run_pinned(argv, core, on_line=None):
    """Runs `argv` on `core`; returns (CPU seconds, wall seconds, exit status, stdout, stderr).

    `on_line(line, child)` sees each line of standard output as it comes."""
    with tempfile.TemporaryFile() as err:
        start = time.monotonic()
        child = subprocess.Popen(["taskset", "-c", str(core)] + argv, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=err, text=True)
        watchdog = threading.Timer(RUN_TIMEOUT_SECONDS, child.kill)
        watchdog.start()
        out = []
        for line in child.stdout:
            out.append(line)
            if on_line:
                on_line(line, child)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
        watchdog.cancel()
        child.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        return (usage.ru_utime + usage.ru_stime, wall, child.returncode, "".join(out),
                err.read().decode(errors="replace"))


class Consumers:
    """How each consumer reads a camera's stream and how its run is checked."""

    def __init__(self, ravelon, floor, registry, core):
        self.ravelon, self.floor, self.registry, self.core = ravelon, floor, registry, core
        self.sources = {}  # camera port -> source name in the registry

    def add_source(self, camera):
        name = f"cam{camera.port}"
        subprocess.run([self.ravelon, "config", "add-source", name, "--registry", self.registry,
                        "--address", "127.0.0.1", "--port", str(camera.port), "--url", "/video",
                        "--no-save"], check=True, stdout=subprocess.DEVNULL)
        self.sources[camera.port] = name

    def run(self, consumer, camera):
        """Reads the camera's stream once; returns (CPU seconds, wall seconds) or fails."""
        url = camera.url
        if consumer == "engine":
            return self._run_engine(camera)
        if consumer == "curl":
            argv = ["curl", "-s", "-o", "/dev/null", "-w", "%{size_download}", url]
        elif consumer == "floor":
            argv = [self.floor, str(camera.port), "/video"]
        elif consumer == "gstreamer":
            argv = ["gst-launch-1.0", "-q", "souphttpsrc", f"location={url}", "!",
                    "multipartdemux", "!", "fakesink"]
        else:
            argv = ["ffmpeg", "-nostdin", "-hide_banner", "-f", "mpjpeg", "-i", url, "-c",
                    "copy", "-f", "null", "-"]
        cpu, wall, status, out, err = run_pinned(argv, self.core)
        problem = f"exit status {status}" if status != 0 else ""
        if consumer == "curl":
            if not camera.stream_bytes:
                camera.stream_bytes = int(out)
            if int(out) != camera.stream_bytes:
                problem = f"{out} bytes, not {camera.stream_bytes}"
        if consumer == "floor" and not 0 <= int(out) - camera.stream_bytes < 65536:
            problem = f"{out.strip()} bytes with the head, not {camera.stream_bytes} without"
        if consumer == "ffmpeg":
            frames = re.findall(r"frame=\s*(\d+)", err)
            if not frames or int(frames[-1]) != camera.parts:
                problem = f"frames {frames[-1:]} of {camera.parts}"
        if problem:
            raise SystemExit(f"{consumer} on {url}: {problem}\n{err[-2000:]}")
        return cpu, wall

    def _run_engine(self, camera):
        failed = []

        stopped = []

        def on_line(line, child):
            if stopped or not (CLOSED_LINE in line or any(f in line for f in FAILED_LINES)):
                return
            if CLOSED_LINE not in line:
                failed.append(line.strip())
            child.send_signal(signal.SIGTERM)
            stopped.append(line)

        cpu, wall, status, out, err = run_pinned(
            [self.ravelon, "record", "--registry", self.registry, "--loops", "1", "--status",
             "lines", "--status-every", "86400", "--log-level", "5",
             "--for", str(RUN_TIMEOUT_SECONDS), self.sources[camera.port]],
            self.core, on_line)
        received = re.findall(r" (\d+) received,", out)
        # The last part is not followed by a boundary, so it never counts as received.
        if status != 0 or failed or not received or int(received[-1]) != camera.parts - 1:
            raise SystemExit(f"engine on {camera.url}: status {status}, {failed}, received "
                             f"{received[-1:]} of {camera.parts - 1}\n{out[-2000:]}{err[-2000:]}")
        return cpu, wall


def machine():
    model = ""
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return f"{os.cpu_count()} cores, {model}; load average {os.getloadavg()[0]:.2f}"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ravelon", default="build/release/apps/ravelon/ravelon")
    ap.add_argument("--floor", default="build/release/bench/read_floor_bench")
    ap.add_argument("--gigabytes", type=float, default=2, help="bytes of each long run")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--camera-core", type=int, default=0)
    ap.add_argument("--consumer-core", type=int, default=1)
    ap.add_argument("--consumers", default="engine,curl,gstreamer,ffmpeg,floor")
    ap.add_argument("--parts", default="50,280", help="part sizes in KB: "
                    + ", ".join(str(k) for k in FRAME_SIZE_FOR_PART_KB))
    a = ap.parse_args()
    names = a.consumers.split(",")
    if "curl" not in names:
        names.insert(0, "curl")  # the ratios' reference, and the stream's byte count
    parts_kb = [int(p) for p in a.parts.split(",")]
    print(f"machine: {machine()}")
    work = tempfile.mkdtemp(prefix="ravelon-ingest-")
    consumers = Consumers(a.ravelon, a.floor, os.path.join(work, "registry.db"), a.consumer_core)
    cameras = {}  # part KB -> (long stream camera, one-part camera)
    try:
        for kb in parts_kb:
            parts = max(2, round(a.gigabytes * 1e9 / (kb * 1000)))
            pair = tuple(Camera(a.ravelon, a.camera_core, FRAME_SIZE_FOR_PART_KB[kb], n)
                         for n in (parts, 1))
            cameras[kb] = pair
            for camera in pair:
                consumers.add_source(camera)
                consumers.run("curl", camera)  # learns the bytes, makes the frame
        samples = {}  # (kb, consumer, long or one-part) -> [(cpu, wall, camera cpu)]
        for r in range(a.rounds):
            order = names[r % len(names):] + names[:r % len(names)]
            for kb in parts_kb:
                for consumer in order:
                    for which, camera in enumerate(cameras[kb]):
                        before = camera.cpu_seconds()
                        cpu, wall = consumers.run(consumer, camera)
                        samples.setdefault((kb, consumer, which), []).append(
                            (cpu, wall, camera.cpu_seconds() - before))
            print(f"round {r + 1} of {a.rounds} done", flush=True)
        print(f"after the runs: {machine()}")
        report(samples, cameras, parts_kb, names, a)
    finally:
        problems = [camera.stop() for pair in cameras.values() for camera in pair]
        subprocess.run(["rm", "-rf", work])
    if any(problems):
        raise SystemExit("\n".join(p for p in problems if p))


def report(samples, cameras, parts_kb, names, a):
    print(f"\nmedians of {a.rounds} interleaved rounds; consumers on core {a.consumer_core}, "
          f"camera on core {a.camera_core}")
    print(f"{'part':>14} {'consumer':<10} {'CPU s/GB':>9} {'vs curl':>8} {'start-up s':>11} "
          f"{'whole run s/GB':>15} {'vs curl':>8} {'range':>12} {'GB/s':>6} {'camera busy':>12}")
    for kb in parts_kb:
        long, short = cameras[kb]
        gigabytes = long.stream_bytes / 1e9
        extra_gigabytes = (long.stream_bytes - short.stream_bytes) / 1e9
        part_bytes = (long.stream_bytes - short.stream_bytes) // (long.parts - 1)  # average

        def per_round(consumer):
            """Each round's CPU s/GB net of start-up, whole-run s/GB, start-up CPU s, GB/s
            and the camera's busy share."""
            return [((run[0] - start[0]) / extra_gigabytes, run[0] / gigabytes, start[0],
                     gigabytes / run[1], run[2] / run[1])
                    for run, start in zip(samples[(kb, consumer, 0)], samples[(kb, consumer, 1)])]

        curl = per_round("curl")
        for consumer in names:
            rounds = per_round(consumer)

            def median(i):
                return statistics.median(r[i] for r in rounds)

            def vs_curl(i):  # within each round, so that slow phases of the machine cancel
                return statistics.median(r[i] / c[i] for r, c in zip(rounds, curl))

            whole = [r[1] for r in rounds]
            print(f"{part_bytes:>8,} bytes {consumer:<10} {median(0):>9.3f} {vs_curl(0):>8.2f} "
                  f"{median(2):>11.3f} {median(1):>15.3f} {vs_curl(1):>8.2f} "
                  f"{f'{min(whole):.3f}-{max(whole):.3f}':>12} {median(3):>6.2f} "
                  f"{100 * median(4):>11.0f}%")
        print(f"{'':>14} ({long.parts:,} parts, {gigabytes:.2f} GB a run)")

if __name__ == "__main__":
    main()
