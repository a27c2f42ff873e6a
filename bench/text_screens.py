#!/usr/bin/env python3
"""Reads the screens that tools/text_screens.py made with one or more builds of
`pellix-capture ocr`, and with the tesseract command line (one thread) as a
peer, and prints per screen the share of its words read right, whole and from
its windows cut out alone, and the median time per whole screen, at the
accurate and the fast level. The builds take turns on every request, so that
the load of the machine falls on all of them alike.

usage: bench/text_screens.py SCREENS.JSON BINARY [BINARY ...] [--runs N] [--misses]
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import tempfile
import time

from text_bench import Service, os_version


def read_right(lines, expected):
    """How many of the expected words were read, each counted at most as often as it is there."""
    wanted = collections.Counter(expected)
    read = collections.Counter(word for line in lines for word in line)
    return sum(min(n, read[word]) for word, n in wanted.items())


def missed(lines, expected):
    read = collections.Counter(word for line in lines for word in line)
    return sorted((collections.Counter(expected) - read).elements())


class Tool:
    """One build at both levels."""

    def __init__(self, binary, folder):
        self.name = binary
        accurate = os.path.join(folder, "accurate")
        fast = os.path.join(folder, "fast")
        # A marker from this system, as a failed accurate level leaves it.
        os.makedirs(os.path.join(fast, "pellix-capture"))
        with open(os.path.join(fast, "pellix-capture", "accurate-text-failed"), "w") as marker:
            marker.write(os_version() + "\nbenchmark")
        self.levels = {"accurate": Service(binary, accurate), "fast": Service(binary, fast)}

    def read(self, level, path):
        """The words of each line, the wall time and the service's processor time."""
        service = self.levels[level]
        before = cpu_seconds(service.process.pid)
        answer, seconds = service.ask(path)
        cpu = cpu_seconds(service.process.pid) - before
        return [[word["t"] for word in line] for line in answer.get("lines", [])], seconds, cpu

    def close(self):
        for service in self.levels.values():
            service.close()


class CommandLine:
    """The tesseract command line with one thread, as a peer: one process per image."""

    name = "tesseract command line (1 thread)"
    levels = {"default": None}

    def read(self, level, path):
        started = time.monotonic()
        process = subprocess.Popen(["tesseract", path, "-"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, OMP_THREAD_LIMIT="1"), text=True)
        text = process.stdout.read()
        _, status, usage = os.wait4(process.pid, 0)
        assert status == 0, status
        return ([line.split() for line in text.splitlines()], time.monotonic() - started,
                usage.ru_utime + usage.ru_stime)

    def close(self):
        pass


def cpu_seconds(pid):
    """User and system time of a running process so far."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percent(part, whole):
    return f"{100 * part / whole:5.1f}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("screens")
    parser.add_argument("binaries", nargs="+")
    parser.add_argument("--runs", type=int, default=3, help="timed reads of each whole screen")
    parser.add_argument("--misses", action="store_true", help="list the words each read missed")
    options = parser.parse_args()
    screens = json.load(open(options.screens))

    with tempfile.TemporaryDirectory() as folder:
        tools = [Tool(binary, os.path.join(folder, str(n))) for n, binary in enumerate(options.binaries)]
        tools.append(CommandLine())
        # (tool, level, screen) -> figures
        whole, alone, misses = {}, {}, {}
        times, cpus = collections.defaultdict(list), collections.defaultdict(list)
        for screen in screens:
            expected = [word for window in screen["windows"] for word in window["words"]]
            for tool in tools:
                for level in tool.levels:
                    key = (tool.name, level, screen["name"])
                    lines = tool.read(level, screen["image"])[0]
                    whole[key] = read_right(lines, expected)
                    misses[key] = missed(lines, expected)
                    alone[key] = sum(read_right(tool.read(level, window["image"])[0], window["words"])
                                     for window in screen["windows"])
            for _ in range(options.runs):
                for tool in tools:
                    for level in tool.levels:
                        _, seconds, cpu = tool.read(level, screen["image"])
                        times[(tool.name, level, screen["name"])].append(seconds)
                        cpus[(tool.name, level, screen["name"])].append(cpu)
        for tool in tools:
            tool.close()

    print(f"cores: {os.cpu_count()}, load average: {os.getloadavg()[0]:.2f}; "
          f"median of {options.runs} reads per whole screen, wall time and processor time")
    for tool in tools:
        for level in tool.levels:
            print(f"\n{tool.name}, {level} level")
            print(f"  {'screen':<22} {'words':>5} {'whole %':>8} {'alone %':>8} {'wall ms':>8} {'cpu ms':>7}")
            for screen in screens:
                key = (tool.name, level, screen["name"])
                count = sum(len(window["words"]) for window in screen["windows"])
                print(f"  {screen['name']:<22} {count:>5} {percent(whole[key], count):>8} "
                      f"{percent(alone[key], count):>8} {statistics.median(times[key]) * 1000:>8.0f} "
                      f"{statistics.median(cpus[key]) * 1000:>7.0f}")
                if options.misses and misses[key]:
                    print(f"    missed: {' '.join(misses[key])}")
            keys = [(tool.name, level, screen["name"]) for screen in screens]
            count = sum(len(window["words"]) for screen in screens for window in screen["windows"])
            print(f"  {'all, mean per screen':<22} {count:>5} {percent(sum(whole[k] for k in keys), count):>8} "
                  f"{percent(sum(alone[k] for k in keys), count):>8} "
                  f"{statistics.mean(statistics.median(times[k]) for k in keys) * 1000:>8.0f} "
                  f"{statistics.mean(statistics.median(cpus[k]) for k in keys) * 1000:>7.0f}")


if __name__ == "__main__":
    main()
