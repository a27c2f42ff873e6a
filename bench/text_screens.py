#!/usr/bin/env python3
"""Words read on whole screens of real X programs: makes the screens of
tools/text_screens.py on a private 1280x720 Xvfb, then reads each with
`pellix-capture ocr` at the accurate and the fast level, whole and each window
cut out alone, and with the tesseract command line (one thread) as a peer.
With --against, other builds read the same screens too, taking turns with the
first on every request, so that the load of the machine falls on all alike.

usage: bench/text_screens.py [build-dir] [--against BUILD-DIR ...] [--runs N] [--misses]

Prints the conditions, then one line per screen and level: per build the share
of its words read right whole and from its windows alone, and the median wall
and processor time of a whole screen; then one line per screen for the peer.
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import tempfile

from text import ROOT, Service, command_line, cpu_seconds, os_version


def read_right(lines, expected):
    """How many of the expected words were read, each counted at most as often as it is there."""
    wanted = collections.Counter(expected)
    read = collections.Counter(word for line in lines for word in line)
    return sum(min(n, read[word]) for word, n in wanted.items())


def missed(lines, expected):
    read = collections.Counter(word for line in lines for word in line)
    return sorted((collections.Counter(expected) - read).elements())


class Build:
    """One build's service at both levels."""

    def __init__(self, build, folder):
        self.name = build
        binary = os.path.join(ROOT, build, "src", "pellix-capture")
        accurate, fast = os.path.join(folder, "accurate"), os.path.join(folder, "fast")
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
    """The tesseract command line with one thread, one process per image, as a user starts it."""

    name = "tesseract command line"
    levels = {"1 thread": None}

    def read(self, level, path):
        times, cpus, answer = command_line(path, 1)
        return [[word["t"] for word in line] for line in answer["lines"]], times[0], cpus[0]

    def close(self):
        pass


def make_screens(build, folder):
    """The screens, made on a private Xvfb that lives as long as the making."""
    binary = os.path.join(ROOT, build, "src", "pellix-capture")
    script = 'source tools/servers.sh; start_xvfb 1280 720; python3 tools/text_screens.py "$@"'
    subprocess.run(["bash", "-euc", script, "screens", binary, folder], cwd=ROOT, check=True)
    return json.load(open(os.path.join(folder, "screens.json")))


def percent(part, whole):
    return f"{100 * part / whole:.1f} %"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build", help="the build folder, from the repository's root")
    parser.add_argument("--against", nargs="*", default=[], help="more build folders to compare with")
    parser.add_argument("--runs", type=int, default=3, help="timed reads of each whole screen")
    parser.add_argument("--misses", action="store_true", help="list the words each whole read missed")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        screens = make_screens(options.build, os.path.join(folder, "screens"))
        readers = [Build(build, os.path.join(folder, str(n)))
                   for n, build in enumerate([options.build] + options.against)]
        readers.append(CommandLine())
        # (reader, level, screen) -> figures
        whole, alone, misses = {}, {}, {}
        times, cpus = collections.defaultdict(list), collections.defaultdict(list)
        for screen in screens:
            expected = [word for window in screen["windows"] for word in window["words"]]
            for reader in readers:
                for level in reader.levels:
                    key = (reader.name, level, screen["name"])
                    lines = reader.read(level, screen["image"])[0]
                    whole[key] = read_right(lines, expected)
                    misses[key] = missed(lines, expected)
                    alone[key] = sum(read_right(reader.read(level, window["image"])[0], window["words"])
                                     for window in screen["windows"])
            for _ in range(options.runs):
                for reader in readers:
                    for level in reader.levels:
                        _, seconds, cpu = reader.read(level, screen["image"])
                        times[(reader.name, level, screen["name"])].append(seconds)
                        cpus[(reader.name, level, screen["name"])].append(cpu)
        for reader in readers:
            reader.close()

    load = " ".join(f"{a:.2f}" for a in os.getloadavg())
    print(f"{len(screens)} screens of 1280x720; median of {options.runs} reads of each; "
          f"{os.cpu_count()} cores; load {load}")
    words = {screen["name"]: sum(len(window["words"]) for window in screen["windows"]) for screen in screens}
    names = [screen["name"] for screen in screens] + ["all screens"]
    words["all screens"] = sum(words.values())

    def figures(reader, level, name):
        keys = [(reader.name, level, n) for n in (words if name == "all screens" else [name]) if n != "all screens"]
        right = sum(whole[k] for k in keys)
        alone_right = sum(alone[k] for k in keys)
        wall = statistics.mean(statistics.median(times[k]) for k in keys) * 1000
        cpu = statistics.mean(statistics.median(cpus[k]) for k in keys) * 1000
        return right, alone_right, wall, cpu

    first = readers[0]
    for level in first.levels:
        for name in names:
            parts = []
            for reader in readers[:-1]:
                right, alone_right, wall, cpu = figures(reader, level, name)
                part = (f"{reader.name}: {percent(right, words[name])} whole, {percent(alone_right, words[name])} "
                        f"alone, {wall:.0f} ms (cpu {cpu:.0f} ms)")
                if reader is not first:
                    part += f" ({first.name} took {figures(first, level, name)[2] / wall:.2f} times as long)"
                parts.append(part)
            print(f"{name + ', ' + level:34s} {words[name]} words; " + "; ".join(parts))
            if options.misses and misses.get((first.name, level, name)):
                print(f"{'':34s} missed: {' '.join(misses[(first.name, level, name)])}")
    peer = readers[-1]
    for name in names:
        right, alone_right, wall, cpu = figures(peer, "1 thread", name)
        print(f"{name + ', command line':34s} {words[name]} words; {percent(right, words[name])} whole, "
              f"{percent(alone_right, words[name])} alone, {wall:.0f} ms (cpu {cpu:.0f} ms)")


if __name__ == "__main__":
    main()
