#!/usr/bin/env python3
"""Makes whole screens of real X programs whose words are known, for the text
benchmark and the text tests: terminals in xterm's bitmap font and in DejaVu
Sans Mono, light and reverse video, xmessage dialogs and an xedit window, over
dark, light and patterned roots. Each screen is taken whole with
`pellix-capture shot`, and each window alone with `shot --window`.

usage: tools/text_screens.py path/to/pellix-capture OUT-FOLDER [SCREEN ...]

Runs on the X server in $DISPLAY (1280x720, no window manager), one screen at
a time: it sets the root, starts the windows, waits until they show all their
text, takes the shots and stops the windows again. Writes OUT-FOLDER/NAME.png,
OUT-FOLDER/NAME-WINDOW.png and OUT-FOLDER/screens.json: per screen its image
and its windows, each with its image, its place on the screen, its words and,
for terminals, the character cell of every word in screen pixels.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

# xterm's padding between its window edge and the character cells.
TERMINAL_PADDING = 2

SENTENCES = """\
The quick brown fox jumps over the lazy dog near the old mill
Please save your work before the update restarts this machine
Invoice 2024-117 lists three items and a total of 42 euros
Shipping times improved by twelve percent after the move
Our meeting moved to Friday at half past ten in room 305
Backups run every night and keep copies for thirty days
Error: cannot open config file, using the default values
Thanks for reading, the next chapter begins on page 88
"""

BUILD_LOG = """\
Compiling engine.cc with optimisation level two
Linking the capture tool against tesseract 5.3.0
Tests passed: 214, failed: 0, skipped: 3
Disk usage of the home folder is 71 percent
Next backup starts at 02:30 on Sunday night
Updated packages: xterm, fonts and x11-apps
Memory in use 1.8 GiB of 24 GiB available
Connection to the build server closed by host
"""

WEATHER = """\
Weather for Lisbon: sunny with a light wind
Tomorrow brings rain after noon and 14 degrees
Sunrise at 07:12 and sunset at 18:45 today
Air quality is good, pollen counts are low
Weekend outlook: clouds clearing by Sunday
"""

MAIL = """\
From: Dana Whitfield, Subject: quarterly figures
The spreadsheet with the March numbers is attached
Revenue grew to 4,210 units across three regions
Let me know before Thursday if anything looks wrong
"""

DIALOG_BACKUP = """\
The backup finished with 3 warnings
Open the log to see which folders were skipped
"""

DIALOG_DISK = """\
Only 2 GB left on the system disk
Remove old kernels or empty the trash soon
"""

NOTES = """\

Meeting notes for the release review
Ship version 2.4 on Tuesday morning
Ask Dana about the missing screenshots
Check the translations in the German menus
Move the help page to the new server
"""

SHELL = """\
cd projects/pellix and run the tests again
Fetching origin, nothing new since yesterday
Branch main is up to date with its remote
Working tree clean, three stashes kept
"""

MONO = ["-fa", "DejaVu Sans Mono", "-fs", "9"]


def terminal(name, text, place, columns=80, rows=10, options=()):
    return {"name": name, "kind": "terminal", "text": text, "place": place, "columns": columns, "rows": rows,
            "options": list(options)}


def dialog(name, text, place, buttons):
    return {"name": name, "kind": "dialog", "text": text, "place": place, "buttons": buttons}


def editor(name, text, place, size):
    return {"name": name, "kind": "editor", "text": text, "place": place, "size": size}


SCREENS = {
    "black-terminals": (["-solid", "black"], [
        terminal("bitmap", SENTENCES, (20, 20)),
        terminal("dejavu", SENTENCES, (20, 260), options=MONO)]),
    "grey-terminals": (["-solid", "grey50"], [
        terminal("bitmap", SENTENCES, (20, 20)),
        terminal("dejavu", SENTENCES, (20, 260), options=MONO)]),
    "reverse-beside-light": (["-solid", "#1e2a38"], [
        terminal("reverse", BUILD_LOG, (20, 40), columns=72, rows=12, options=MONO + ["-rv"]),
        terminal("light", WEATHER, (640, 60), columns=80, rows=8)]),
    "dialogs-on-pattern": (["-mod", "8", "8", "-fg", "#6b7b8c", "-bg", "#303a46"], [
        dialog("backup", DIALOG_BACKUP, (60, 60), ["Open log", "Dismiss"]),
        dialog("disk", DIALOG_DISK, (700, 110), ["Clean up", "Later"]),
        terminal("reverse", SHELL, (60, 380), columns=70, rows=8, options=["-rv"])]),
    "editor-on-light": (["-solid", "#e8e8e8"], [
        editor("notes", NOTES, (40, 40), (600, 360)),
        terminal("coloured", MAIL, (680, 420), columns=64, rows=7,
                 options=MONO + ["-bg", "#002b36", "-fg", "#93a1a1"])]),
    "reverse-on-black": (["-solid", "black"], [
        terminal("bitmap", SENTENCES, (20, 20), options=["-rv"]),
        terminal("dejavu", BUILD_LOG, (20, 300), options=MONO + ["-rv"]),
        dialog("backup", DIALOG_BACKUP, (760, 420), ["Open log", "Dismiss"])]),
}


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, **kwargs).stdout


def grey_rows(path):
    """The image's rows of 8-bit grey values."""
    size = run(["convert", path, "-format", "%w %h", "info:"]).split()
    width, height = int(size[0]), int(size[1])
    pixels = run(["convert", path, "-colorspace", "gray", "-depth", "8", "gray:-"])
    return [pixels[y * width:(y + 1) * width] for y in range(height)]


def ink_bands(path):
    """How many runs of rows differ from the image's first row: the lines of
    text a terminal shows."""
    rows = grey_rows(path)
    blank = rows[0]
    bands, inside = 0, False
    for row in rows[TERMINAL_PADDING:len(rows) - TERMINAL_PADDING]:
        ink = row[TERMINAL_PADDING:len(row) - TERMINAL_PADDING] != blank[TERMINAL_PADDING:len(row) - TERMINAL_PADDING]
        bands += ink and not inside
        inside = ink
    return bands


def window_at(title):
    """The id of the viewable top-level window titled `title`, or None."""
    found = subprocess.run(["xwininfo", "-int", "-name", title], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True).stdout
    if "IsViewable" not in found:
        return None
    return int(found.split("Window id:")[1].split()[0])


def origin(window):
    found = run(["xwininfo", "-int", "-id", str(window)], text=True)
    value = lambda key: int(found.split(key)[1].split()[0])
    return value("Absolute upper-left X:"), value("Absolute upper-left Y:")


def wait_until(ready, what, deadline=20):
    started = time.monotonic()
    while True:
        result = ready()
        if result:
            return result
        if time.monotonic() - started > deadline:
            sys.exit(f"gave up waiting for {what}")
        time.sleep(0.05)


def start(window, folder, screen):
    """Starts the program of one window; returns its process and title."""
    title = f"{screen}-{window['name']}"
    x, y = window["place"]
    text = os.path.join(folder, title + ".txt")
    with open(text, "w") as file:
        file.write(window["text"])
    if window["kind"] == "terminal":
        # The cursor hidden, the text shown, then nothing more.
        show = 'printf "\\033[?25l"; cat "$0"; exec sleep 100000'
        command = ["xterm", "-title", title, "-geometry", f"{window['columns']}x{window['rows']}+{x}+{y}",
                   *window["options"], "-e", "sh", "-c", show, text]
    elif window["kind"] == "dialog":
        command = ["xmessage", "-title", title, "-geometry", f"+{x}+{y}", "-buttons", ",".join(window["buttons"]),
                   "-file", text]
    else:
        width, height = window["size"]
        command = ["xedit", "-title", title, "-geometry", f"{width}x{height}+{x}+{y}", text]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, title


def shoot(tool, out, window=None):
    command = [tool, "shot", "--out", out] + (["--window", str(window)] if window else [])
    return json.loads(run(command))


def words_of(window):
    text = window["text"].split()
    if window["kind"] == "dialog":
        text += " ".join(window["buttons"]).split()
    return text


def cells_of(window, x, y, width, height):
    """Every word of a terminal with the character cells it covers, in screen pixels."""
    cell_width = (width - 2 * TERMINAL_PADDING) / window["columns"]
    cell_height = (height - 2 * TERMINAL_PADDING) / window["rows"]
    cells = []
    for row, line in enumerate(window["text"].splitlines()):
        column = 0
        for word in line.split(" "):
            if word:
                cells.append({"t": word, "line": row,
                              "r": [x + TERMINAL_PADDING + column * cell_width,
                                    y + TERMINAL_PADDING + row * cell_height, len(word) * cell_width, cell_height]})
            column += len(word) + 1
    return cells


def make(tool, folder, name):
    root, windows = SCREENS[name]
    run(["xsetroot", *root])
    processes = []
    try:
        with tempfile.TemporaryDirectory() as texts:
            started = [start(window, texts, name) for window in windows]
            processes = [process for process, _ in started]
            ids = [wait_until(lambda: window_at(title), title) for _, title in started]
            probe = os.path.join(folder, "probe.png")

            # Terminals are done when each line of their text shows; then the
            # whole screen once two shots a moment apart are the same.
            for window, id in zip(windows, ids):
                if window["kind"] == "terminal":
                    lines = len([line for line in window["text"].splitlines() if line.strip()])
                    wait_until(lambda: shoot(tool, probe, id) and ink_bands(probe) == lines, window["name"])
            image = os.path.join(folder, name + ".png")
            last = None

            def settled():
                nonlocal last
                shoot(tool, image)
                now = open(image, "rb").read()
                same, last = now == last, now
                return same
            wait_until(settled, "a still screen")
            if os.path.exists(probe):
                os.remove(probe)

            described = []
            for window, id in zip(windows, ids):
                alone = os.path.join(folder, f"{name}-{window['name']}.png")
                size = shoot(tool, alone, id)
                x, y = origin(id)
                entry = {"name": window["name"], "kind": window["kind"], "image": alone, "x": x, "y": y,
                         "width": size["width"], "height": size["height"], "words": words_of(window)}
                if window["kind"] == "terminal":
                    entry["cells"] = cells_of(window, x, y, size["width"], size["height"])
                described.append(entry)
    finally:
        for process in processes:
            process.terminate()
        for process in processes:
            process.wait()
    return {"name": name, "image": image, "windows": described}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tool, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    names = sys.argv[3:] or list(SCREENS)
    os.makedirs(folder, exist_ok=True)
    screens = [make(tool, folder, name) for name in names]
    with open(os.path.join(folder, "screens.json"), "w") as manifest:
        json.dump(screens, manifest, indent=1)


if __name__ == "__main__":
    main()
