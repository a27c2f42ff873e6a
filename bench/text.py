#!/usr/bin/env python3
"""Figures of `pellix-capture ocr`: start-up time, per-request latency at the
accurate and the fast level on a 1920x1080 screenshot-like image, the tesseract
command line with one thread on the same image as the peer of the fast level,
and resident memory over a long run of mixed requests.

usage: bench/text.py [build-dir] [--requests N] [--samples N]

Prints the conditions, then one line per case.
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def os_version():
    pretty = os.uname().sysname
    try:
        for line in open("/etc/os-release"):
            if line.startswith("PRETTY_NAME="):
                pretty = line[len("PRETTY_NAME="):].strip().strip('"').strip("'")
                break
    except OSError:
        pass
    return pretty + " " + os.uname().release


def rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


class Service:
    def __init__(self, binary, cache):
        env = dict(os.environ, XDG_CACHE_HOME=cache)
        env.pop("OMP_THREAD_LIMIT", None)  # the tool sets it itself
        started = time.monotonic()
        self.process = subprocess.Popen([binary, "ocr"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
        self.preparing = json.loads(self.process.stdout.readline())
        self.preparing_after = time.monotonic() - started
        self.ready = json.loads(self.process.stdout.readline())
        self.ready_after = time.monotonic() - started
        if not self.ready.get("ready"):
            sys.exit(f"the service is not ready: {self.ready}")

    def ask(self, path):
        started = time.monotonic()
        self.process.stdin.write((json.dumps({"path": path}) + "\n").encode())
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline())
        return answer, time.monotonic() - started

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def cpu_seconds(pid):
    """User and system time of a running process so far."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def latencies(service, path, samples, between=lambda: None):
    """The first request's time, then the wall and processor times of `samples`
    more, with `between` run after each, so that a peer meets the same load."""
    answer, first = service.ask(path)
    times, cpus = [], []
    for _ in range(samples):
        before = cpu_seconds(service.process.pid)
        times.append(service.ask(path)[1])
        cpus.append(cpu_seconds(service.process.pid) - before)
        between()
    return first, times, cpus, answer


def command_line(path, samples):
    """Wall and processor times of the tesseract command line with one thread
    reading `path`, each run a process of its own as a user would start it;
    and what it read."""
    times, cpus = [], []
    for _ in range(samples):
        started = time.monotonic()
        process = subprocess.Popen(["tesseract", path, "-"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, OMP_THREAD_LIMIT="1"), text=True)
        text = process.stdout.read()
        _, status, usage = os.wait4(process.pid, 0)
        assert status == 0, status
        times.append(time.monotonic() - started)
        cpus.append(usage.ru_utime + usage.ru_stime)
    lines = [[{"t": word} for word in line.split()] for line in text.splitlines()]
    return times, cpus, {"lines": lines}


def read_right(answer, expected_text):
    """How many of the drawn words the answer holds, each counted at most as often as drawn."""
    expected = collections.Counter(expected_text.split())
    read = collections.Counter(word["t"] for line in answer.get("lines", []) for word in line)
    return sum(min(n, read[word]) for word, n in expected.items()), sum(expected.values())


def milliseconds(seconds):
    return f"{seconds * 1000:.0f} ms"


def figure(label, figures):
    print(f"{label:34s} {figures}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build", help="the build folder, from the repository's root")
    parser.add_argument("--requests", type=int, default=1000)
    parser.add_argument("--samples", type=int, default=20)
    options = parser.parse_args()
    options.binary = os.path.join(ROOT, options.build, "src", "pellix-capture")

    with tempfile.TemporaryDirectory() as folder:
        screen = os.path.join(folder, "screen.png")
        subprocess.run([os.path.join(ROOT, "tools", "text_screenshot.sh"), screen], check=True)
        drawn = open(screen + ".txt").read()
        line = os.path.join(folder, "line.png")
        subprocess.run(["convert", "-size", "600x100", "xc:white", "-font", "DejaVu-Sans", "-pointsize", "28",
                        "-annotate", "+20+60", "Invoice 2024-117: 3 items", line], check=True)
        blank = os.path.join(folder, "blank.png")
        subprocess.run(["convert", "-size", "800x600", "xc:#202830", blank], check=True)

        load = " ".join(f"{a:.2f}" for a in os.getloadavg())
        print(f"{os.path.abspath(options.binary)}; {os.cpu_count()} cores; load {load}")

        # Accurate level: a fresh cache folder holds no marker.
        accurate_cache = os.path.join(folder, "accurate")
        service = Service(options.binary, accurate_cache)
        figure("start-up, accurate", f"preparing after {milliseconds(service.preparing_after)}, "
               f"ready after {milliseconds(service.ready_after)} (languages listed, engine loaded, self-test read)")
        first, times, cpus, answer = latencies(service, screen, options.samples)
        assert "level" not in answer, answer
        figure("accurate, 1920x1080 screenshot", f"first {milliseconds(first)}, "
               f"median {milliseconds(statistics.median(times))}, max {milliseconds(max(times))} "
               f"over {len(times)} requests, processor time median {milliseconds(statistics.median(cpus))}; "
               "%d of %d drawn words read right" % read_right(answer, drawn))
        service.close()

        # Fast level: a marker from this system, as a failed accurate level leaves it.
        fast_cache = os.path.join(folder, "fast")
        os.makedirs(os.path.join(fast_cache, "pellix-capture"))
        with open(os.path.join(fast_cache, "pellix-capture", "accurate-text-failed"), "w") as marker:
            marker.write(os_version() + "\nbenchmark")
        service = Service(options.binary, fast_cache)
        figure("start-up, fast", f"ready after {milliseconds(service.ready_after)}")
        # The peer, what a user gets from the command line with one thread, takes turns with it.
        peer_times, peer_cpus, peer_answer = [], [], {}

        def peer():
            wall, cpu, answer = command_line(screen, 1)
            peer_times.extend(wall), peer_cpus.extend(cpu), peer_answer.update(answer)
        first, times, cpus, answer = latencies(service, screen, options.samples, peer)
        assert answer.get("level") == "fast", answer
        figure("fast, 1920x1080 screenshot", f"first {milliseconds(first)}, "
               f"median {milliseconds(statistics.median(times))}, max {milliseconds(max(times))} "
               f"over {len(times)} requests, processor time median {milliseconds(statistics.median(cpus))}; "
               "%d of %d drawn words read right" % read_right(answer, drawn))
        service.close()

        figure("tesseract command line, 1 thread", f"median {milliseconds(statistics.median(peer_times))}, "
               f"processor time median {milliseconds(statistics.median(peer_cpus))} over {len(peer_times)} runs; "
               "%d of %d drawn words read right" % read_right(peer_answer, drawn))
        figure("fast level / command line", f"{statistics.median(peer_times) / statistics.median(times):.2f} times "
               f"the throughput by wall time, {statistics.median(peer_cpus) / statistics.median(cpus):.2f} times "
               "by processor time")

        # Memory over a long run: screenshot, a text line, a blank image, a missing file, in turn.
        service = Service(options.binary, accurate_cache)
        pid = service.process.pid
        mix = [screen, line, blank, os.path.join(folder, "missing.png")]
        marks = {}
        started = time.monotonic()
        for n in range(1, options.requests + 1):
            service.ask(mix[n % len(mix)])
            if n in (1, 10, 100) or n % 250 == 0 or n == options.requests:
                marks[n] = rss_kib(pid)
        elapsed = time.monotonic() - started
        service.close()
        figure(f"memory, {options.requests} mixed requests", f"({elapsed:.0f} s) resident "
               + ", ".join(f"{kib / 1024:.0f} MiB after {n}" for n, kib in sorted(marks.items())))


if __name__ == "__main__":
    main()
