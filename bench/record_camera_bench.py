#!/usr/bin/env python3
"""CPU and memory of `ravelon record` per source, against `ravelon camera`.

Starts one test camera process (25 VGA frames per second by default), adds N
sources to a fresh registry file, all reading that camera and saving every
frame, and runs `ravelon record --for S` twice: with one source and with N.
The recorder's CPU (user + system) and peak memory come from the rusage of
ended children, so the camera's own cost (still running) is not counted; the
`config` runs before are subtracted.

  bench/record_camera_bench.py [--ravelon build/release/apps/ravelon/ravelon]
                               [--sources 8] [--seconds 30] [--fps 25] [--size 640x480]

Prints CPU per source (% of one core and microseconds per frame), peak memory
per source ((RSS with N - RSS with 1) / (N - 1)), and frames per source.
"""
import argparse, os, re, shutil, subprocess, tempfile, time


def run_record(ravelon, registry, seconds, sources):
    start = time.monotonic()
    child = subprocess.Popen(
        [ravelon, "record", "--registry", registry, "--for", str(seconds), "--status", "lines",
         "--status-every", str(seconds * 2), "-q"] + sources,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    out, err = child.communicate()
    wall = time.monotonic() - start
    if child.returncode != 0:
        raise SystemExit(f"record failed ({child.returncode}): {err}")
    received = [int(m) for m in re.findall(r" (\d+) received,", out)]
    return wall, received, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--ravelon", default="build/release/apps/ravelon/ravelon")
    ap.add_argument("--sources", type=int, default=8)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--fps", type=float, default=25)
    ap.add_argument("--size", default="640x480")
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="ravelon-bench-")
    camera = subprocess.Popen([a.ravelon, "camera", "--port", "0", "--fps", str(a.fps), "--size",
                               a.size], stdout=subprocess.PIPE, text=True)
    try:
        port = camera.stdout.readline().strip().rsplit(":", 1)[1]
        registry = os.path.join(work, "registry.db")
        names = [f"cam{i}" for i in range(a.sources)]
        for name in names:
            subprocess.run([a.ravelon, "config", "add-source", name, "--registry", registry,
                            "--address", "127.0.0.1", "--port", port, "--url", "/video",
                            "--store", os.path.join(work, name), "--save", "--save-interval",
                            "10"], check=True)
        results = {}
        for count in (1, a.sources):
            r0 = resource_children()
            wall, received, _ = run_record(a.ravelon, registry, a.seconds, names[:count])
            r1 = resource_children()
            cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
            results[count] = (cpu, r1.ru_maxrss, wall, received)
        cpu_n, rss_n, wall_n, received_n = results[a.sources]
        cpu_1, rss_1, _, _ = results[1]
        frames = sum(received_n)
        print(f"machine: {os.cpu_count()} cores; {a.sources} sources, {a.size} at {a.fps} fps, "
              f"{a.seconds} s, every frame saved")
        print(f"frames per source: {min(received_n)}..{max(received_n)} "
              f"({frames / a.sources / wall_n:.1f} per second)")
        print(f"CPU per source: {100 * cpu_n / wall_n / a.sources:.1f} % of a core, "
              f"{1e6 * cpu_n / max(frames, 1):.0f} us per frame "
              f"(1 source: {100 * cpu_1 / a.seconds:.1f} %)")
        print(f"peak memory: {rss_n / 1024:.1f} MiB with {a.sources}, {rss_1 / 1024:.1f} MiB with 1; "
              f"per source {(rss_n - rss_1) / max(a.sources - 1, 1) / 1024:.2f} MiB")
    finally:
        camera.terminate()
        camera.wait()
        shutil.rmtree(work, ignore_errors=True)


def resource_children():
    import resource
    return resource.getrusage(resource.RUSAGE_CHILDREN)


if __name__ == "__main__":
    main()
