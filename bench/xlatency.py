#!/usr/bin/env python3
"""How long the real program takes to answer a reader, timed from outside on a virtual screen.

    xlatency.py [--program PATH] [--quick [--search] [--chapters]] [--json FILE] [--out DIR] [--seed N] FILE...
    xlatency.py --again DIR [--json FILE]     (the figures again, from a kept --out folder)

Starts Xvfb at 1920 x 1080, a private session bus and openbox (so the window opens maximized, as on a
desktop), and runs the program on the xcb platform without the accessibility bus, under
`strace -f --seccomp-bpf -ttt` (the seccomp filter stops the program only at the traced calls). It then
acts as a reader with xdotool (XTEST): opens each FILE through File > Open, turns pages, jumps with the
scroll bar, drags the thumb; then, in a search round (always in a full run, with --quick only when
--search is given), finds text through the find bar (Ctrl+F, the word typed, Return, then F3): on each
file from 1 MiB up to 4 GiB a word first found 100-300 KiB in, each time from the first page; on each
file over 4 GiB a made-up word it lacks, over the whole file, and then Page Down 0.3 s into such
searches; in a chapters round (likewise), opens 目录 (Ctrl+T) on each file, closes it and, on each
file over 4 GiB, turns pages while its headings are still being found; and, in a last round over the
files, changes the text font. Every xdotool command is
preceded by a note of the wall clock, which is also the clock of the trace.

Timing, from the trace once the program has ended:
  - start of an action: the read on the X connection, on any thread, that brings its event: among the
    reads returning data after the wall time noted just before its xdotool command, the first that
    begins with that input event (KeyPress, XInput 2 ButtonPress, Motion, ButtonRelease) if one
    comes before the next command, else simply the first;
  - end of an action: the main thread's last write to the X connection before it rests, that is,
    before QUIET seconds with no X write by the main thread, and before the next action's event;
    an action during which the main thread had not gone back to waiting for events when the next
    event came is counted as overlapped (a note on stderr);
  - start-up (fresh processes): exec -> the main thread's last X write before it first makes no
    traced call for 300 ms;
  - search: the same, on the main thread's X writes after a wake-up by an event only (the focused
    find field's cursor blinks on a timer); Return -> hit, F3 -> hit with a quiet gap of 0.3 s (both
    keys held 0.4 s, so that the find field's repaint when they are let go is not timed), a whole
    search to its last X write (1 s quiet, the script waits for the search thread to end); Return ->
    first progress repaint: the main thread's first drawing X write after the search thread (the one
    that opens the file) first wakes it;
  - chapters: Ctrl+T -> first headings drawn, the same way: the main thread's first drawing X write
    after the scan thread first wakes it; Page Down during the scan as any Page Down.
Resident memory (VmHWM, VmRSS) from /proc after each file's reading actions, after the whole searches,
and after each file's chapter scan.

Prints one Markdown table. Needs: Xvfb, openbox, xdotool, x11-utils, strace, dbus, ImageMagick (import).
"""
import argparse
import bisect
import json
import math
import os
import random
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCREEN = (1920, 1080)
TRACED = "execve,openat,connect,writev,sendmsg,write,recvmsg,read,recvfrom,poll,ppoll"

# Pacing. A page turn here takes some 5-30 ms, seldom over 50. The quiet gap, 50 ms, is far above the
# pauses between the writes of one redraw (a few ms) and, with keys 0.1 s apart, an action of up to
# 50 ms has shown its rest before the next key is sent. One that takes longer is still timed to its
# last write before the next event; if the main thread had not gone back to waiting for events when
# that event came, the action is counted as overlapped (printed as a note), so a bleed cannot pass
# unseen. Keys 0.1 s apart keep 600 page turns a file within a run of a few minutes.
QUIET = 0.05
KEY_SPACING = 0.1
# A jump is two commands: the pointer moves onto the bar (its hover work, not timed, was over within
# 25 ms), then 40 ms later the click; the next move comes 90 ms after the click, which leaves a jump
# of up to 40 ms its quiet gap.
MOVE_SETTLE = 0.04
CLICK_SPACING = 0.09
# Thumb drag: a hand moves the mouse far more often than it presses keys, so no quiet gap fits between
# motions. Motions 25 ms apart (40 a second); the end of a motion's work is its last X write before the
# next motion is read (or before a quiet gap), so a motion whose drawing is still running when the
# next arrives is cut there and counted as overlapped. At 20 ms apart about half the motions on the
# 10 MiB file overlapped, which would leave the figure a cut-off; at 25 ms a few percent do.
MOTION_SPACING = 0.025
# Dialogs close through the window manager and refocus the main window; their actions get a longer
# quiet gap, as the first page after opening does, and a second or more before the next action.
DIALOG_QUIET = 0.3
STARTUP_QUIET = 0.3
# Search: a hit near the start comes within some 10-30 ms; a second leaves any search time to end and
# its page to be drawn. The focused find field blinks its cursor every 0.5 s; those writes come from a
# timer, not from the search, and are left out of the search's figures (see Trace), so a quiet gap as
# long as a dialog's fits. A whole search of a large file takes seconds: the script waits for the
# search thread to end, then a quiet second more, and that search's end is its last X write before it.
SEARCH_QUIET = 0.3
SEARCH_SPACING = 1.0
WHOLE_SEARCH_QUIET = 1.0
# Return and F3 in the find field are held this long: the field repaints itself when a key is let go,
# and with the release 10 ms after the press (xdotool key) that repaint, not the hit's page, was the
# last drawing timed. Held past the quiet gap, the release comes after the hit's page is settled, and
# before the X server would repeat the key (660 ms).
KEY_HOLD = 0.4
# A Page Down this long after Return, with a search of the whole 6 GiB file still under way.
SEARCH_RUNNING = 0.3


# ---------------------------------------------------------------- the virtual desktop

def free_display():
    for n in range(150, 300):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    raise SystemExit("no free X display number")


class Desktop:
    """Xvfb, a session bus of our own and openbox; the program's environment."""

    def __init__(self, home):
        self.procs = []
        self.bus_pid = None
        disp = free_display()
        env = dict(os.environ, DISPLAY=disp, NO_AT_BRIDGE="1")
        for k in ("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY", "QT_QPA_PLATFORM",
                  "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(k, None)
        # The program keeps reading places and settings: folders of our own make every run start
        # alike and leave the user's store alone.
        env["XDG_CONFIG_HOME"] = home
        env["XDG_STATE_HOME"] = home
        self.env = env
        self.procs.append(subprocess.Popen(
            ["Xvfb", disp, "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(200):
            if subprocess.run(["xdpyinfo"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        else:
            raise SystemExit("Xvfb did not start")
        # A desktop session has its bus; without one Qt would look for it at start-up.
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                             capture_output=True, text=True, env=env).stdout.split()
        env["DBUS_SESSION_BUS_ADDRESS"] = out[0]
        self.bus_pid = int(out[1])
        self.procs.append(subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
        time.sleep(0.8)

    def screen_size(self):
        r = subprocess.run(["xdpyinfo"], env=self.env, capture_output=True, text=True).stdout
        m = re.search(r"dimensions:\s+(\d+x\d+)", r)
        return m.group(1) if m else "?"

    def close(self):
        if self.bus_pid:
            try:
                os.kill(self.bus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()


class Program:
    """The program under strace; every xdotool command sent to it is noted with the wall time."""

    def __init__(self, desk, program, trace):
        self.desk = desk
        self.trace = trace
        self.marks = []  # (wall time before the command, kind or None when not timed, file label)
        self.strace = subprocess.Popen(
            ["strace", "-f", "--seccomp-bpf", "-ttt", "-e", "trace=" + TRACED, "-o", trace, program],
            env=desk.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = None
        deadline = time.monotonic() + 10
        while self.pid is None and time.monotonic() < deadline:
            try:
                with open(trace) as f:
                    first = f.readline()
                if first.endswith("\n"):
                    self.pid = int(first.split()[0])
            except (OSError, ValueError):
                pass
            time.sleep(0.02)
        if self.pid is None:
            raise SystemExit("the program did not start under strace")
        self.window = wait_window(desk.env, "Pagorin")

    def send(self, kind, label, *args):
        self.marks.append((time.time(), kind, label))
        subprocess.run(["xdotool", *args], env=self.desk.env, check=True)

    def key(self, kind, label, *keys):
        self.send(kind, label, "key", "--delay", "20", *keys)

    def hold(self, kind, label, key, seconds=KEY_HOLD):
        """Presses key (the timed event) and lets it go seconds later (not timed)."""
        self.send(kind, label, "keydown", key)
        time.sleep(seconds)
        self.send(None, label, "keyup", key)

    def type(self, text, delay=5):
        # A character the keyboard map lacks (a hanzi) is first mapped onto a spare key; at 5 ms apart
        # the program missed such characters, at 50 ms and more it took them all.
        self.send(None, None, "type", "--delay", str(delay), text)

    def threads(self):
        return len(os.listdir(f"/proc/{self.pid}/task"))

    def memory(self):
        st = open(f"/proc/{self.pid}/status").read()
        return tuple(int(re.search(rf"{k}:\s+(\d+)", st).group(1)) // 1024 for k in ("VmHWM", "VmRSS"))

    def stop(self):
        try:
            os.kill(self.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            self.strace.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.strace.kill()
            self.strace.wait()


def wait_window(env, name, timeout=20):
    t = time.monotonic() + timeout
    while time.monotonic() < t:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=env,
                           capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.05)
    raise SystemExit(f"no window {name!r}")


def pause_until(t):
    d = t - time.monotonic()
    if d > 0:
        time.sleep(d)


# ---------------------------------------------------------------- where the scroll bar is

def client_geometry(env, window):
    # xwininfo, not `xdotool getwindowgeometry`: under a reparenting window manager the latter counts
    # the frame's offset twice.
    out = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True, text=True).stdout
    get = lambda k: int(re.search(k + r":\s+(-?\d+)", out).group(1))
    return get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width"), get("Height")


def screenshot(env):
    """The root window as (width, height, rgb bytes), from ImageMagick's import as binary PPM."""
    d = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=env,
                       capture_output=True, check=True).stdout
    tokens, i = [], 0
    while len(tokens) < 4:
        while d[i:i + 1].isspace():
            i += 1
        if d[i:i + 1] == b"#":
            while d[i:i + 1] != b"\n":
                i += 1
            continue
        j = i
        while not d[j:j + 1].isspace():
            j += 1
        tokens.append(d[i:j])
        i = j
    w, h = int(tokens[1]), int(tokens[2])
    return w, h, d[i + 1:]


def find_scroll_bar(env, window):
    """The vertical bar at the right edge of the client area, with the file just opened (thumb at the
    top): (x, trough top, trough bottom, thumb length). The arrows' glyphs are the only dark pixels
    in the bar's middle column; each button ends at a grey border line, and so does the thumb."""
    x0, y0, w, h = client_geometry(env, window)
    xc = x0 + w - 8
    fallback = (xc, y0 + 64, y0 + h - 38, 28)
    try:
        sw, sh, px = screenshot(env)
    except (subprocess.CalledProcessError, FileNotFoundError, IndexError, ValueError):
        print("warning: no screenshot; the scroll bar's place is guessed", file=sys.stderr)
        return fallback
    luma = []
    for y in range(y0, min(y0 + h, sh)):
        o = (y * sw + xc) * 3
        r, g, b = px[o], px[o + 1], px[o + 2]
        luma.append((299 * r + 587 * g + 114 * b) // 1000)
    dark = [i for i, v in enumerate(luma) if v < 110]
    try:
        up_end = dark[0]
        while up_end + 1 < len(luma) and luma[up_end + 1] < 110:
            up_end += 1
        down_start = dark[-1]
        while luma[down_start - 1] < 110:
            down_start -= 1
        top = next(i for i in range(up_end + 1, len(luma)) if luma[i] < 200) + 1
        bottom = next(i for i in range(down_start - 1, 0, -1) if luma[i] < 200) - 1
        thumb_end = next(i for i in range(top + 3, bottom) if luma[i] < 200)
        thumb = thumb_end - top + 1
    except (IndexError, StopIteration):
        thumb, top, bottom = 0, 0, 0
    if bottom - top < 200 or not 6 <= thumb <= bottom - top:
        print("warning: scroll bar not recognised on the screen; its place is guessed", file=sys.stderr)
        return fallback
    return xc, y0 + top, y0 + bottom, thumb


def bar_y(bar, fraction, past=False):
    """Pointer y that puts the thumb's middle, hence the position, at fraction of the range (with
    past, the first pixel at or beyond it)."""
    _, top, bottom, thumb = bar
    y = top + thumb / 2 + fraction * (bottom - top + 1 - thumb)
    return math.ceil(y) if past else round(y)


# ---------------------------------------------------------------- the reader's actions

class Plan:
    def __init__(self, quick):
        self.turns = 40 if quick else 300
        self.jumps = 10 if quick else 100
        self.far_jumps = 2 if quick else 10  # each: to the middle, then just past 4 GiB
        self.motions = 50 if quick else 1000
        self.fonts = 2 if quick else 4
        self.startups = 2 if quick else 5
        self.finds = 3 if quick else 10  # Return -> first hit, each from the first page
        self.finds_next = 3 if quick else 10  # F3 -> next hit
        self.whole_searches = 3 if quick else 5  # an absent query over the whole file
        self.search_turns = 5 if quick else 20  # Page Down with a search under way
        self.scan_turns = 15 if quick else 20  # Page Down with a chapter scan under way (0.1 s apart)


def open_file(app, path, label, kind="open"):
    app.key(None, label, "alt+f")
    time.sleep(0.3)
    app.key(None, label, "o")
    time.sleep(1.0)
    app.key(None, label, "ctrl+a")
    app.type(os.path.abspath(path))
    time.sleep(0.5)
    app.key(kind, label, "Return")
    time.sleep(0.8)


def choose_layout(app, layout):
    """Setup > 版式, its preset button by access key (书页: Alt+K, 原样: Alt+O), then OK."""
    app.key(None, "layout", "alt+s")
    time.sleep(0.3)
    app.key(None, "layout", "l")
    time.sleep(1.0)
    app.key(None, "layout", {"book": "alt+k", "original": "alt+o"}[layout])
    time.sleep(0.3)
    app.key(None, "layout", "Return")
    time.sleep(0.8)


def turn_pages(app, label, key, kind, n):
    t = time.monotonic()
    for i in range(n):
        pause_until(t + i * KEY_SPACING)
        app.key(kind, label, key)
    pause_until(t + n * KEY_SPACING)


def jump(app, label, kind, bar, y):
    """Middle click at y on the bar; returns where the thumb's middle then is."""
    t = time.monotonic()
    app.send(None, label, "mousemove", str(bar[0]), str(y))
    pause_until(t + MOVE_SETTLE)
    # The middle button puts the thumb where it is pressed; the left one, in this style, steps a page.
    app.send(kind, label, "click", "--delay", "0", "2")
    pause_until(t + MOVE_SETTLE + CLICK_SPACING)
    _, top, bottom, thumb = bar
    return min(max(y, top + thumb / 2), bottom + 1 - thumb / 2)


def random_trough_y(rnd, bar, thumb_y):
    """A random pixel of the trough off the thumb: a press on the thumb would start a drag, not jump."""
    _, top, bottom, thumb = bar
    return rnd.choice([y for y in range(top, bottom + 1) if abs(y - thumb_y) > thumb / 2 + 1])


def drag_thumb(app, label, bar, n):
    xc, top, bottom, thumb = bar
    y0 = bar_y(bar, 0.0)
    jump(app, label, None, bar, top)  # thumb to the top
    app.send(None, label, "mousemove", str(xc), str(y0))
    time.sleep(0.1)
    app.send(None, label, "mousedown", "1")
    time.sleep(0.2)
    # One pixel a motion, down the whole travel of the thumb and, past the bottom, back up.
    travel = max(bottom - top + 1 - thumb, 1)
    t = time.monotonic()
    for i in range(1, n + 1):
        pause_until(t + (i - 1) * MOTION_SPACING)
        k = i % (2 * travel)
        app.send("drag", label, "mousemove", str(xc), str(y0 + (k if k <= travel else 2 * travel - k)))
    pause_until(t + n * MOTION_SPACING)
    app.send("release", label, "mouseup", "1")
    time.sleep(0.6)


def change_font(app, label, size):
    app.key(None, label, "alt+s")  # 设置(&Setup)
    time.sleep(0.3)
    app.key(None, label, "f")  # 字体设置(&Font Setup)
    time.sleep(0.7)
    app.key(None, label, "alt+s")  # the dialog's &Size field
    time.sleep(0.2)
    app.key(None, label, "ctrl+a")
    app.type(str(size))
    time.sleep(0.3)
    app.key("font", label, "Return")
    time.sleep(0.7)


def near_query(path):
    """Two hanzi whose first place in the file is 100-300 KiB in: past the first page, within the first
    blocks a search reads. Of those, the pair most often in the first 2 MiB, so that F3 finds the next
    hits near by. (query, byte offset of its first hit), or (None, None). The file is GBK: a byte from
    0x81 up begins a two-byte character."""
    with open(path, "rb") as f:
        data = f.read(2 << 20)
    first, count = {}, {}
    i = 0
    while i + 3 < len(data):
        if data[i] < 0x81:
            i += 1
            continue
        if data[i + 2] >= 0x81:
            pair = data[i:i + 4]
            first.setdefault(pair, i)
            count[pair] = count.get(pair, 0) + 1
        i += 2
    best = None
    for pair, at in first.items():
        if not (100 << 10) <= at <= (300 << 10) or (best is not None and count[pair] <= count[best]):
            continue
        try:
            text = pair.decode("gbk")
        except UnicodeDecodeError:
            continue
        # Not even across a character boundary before: the first bytes that match are the hit's.
        if all("\u4e00" <= c <= "\u9fff" for c in text) and data.find(pair) == at:
            best = pair
    return (best.decode("gbk"), first[best]) if best else (None, None)


# Made-up words of rare hanzi, all in GBK; the first one the file lacks is searched for.
ABSENT = ("龘靐齉", "齾爩鱻", "麤龘靐")


def data_extents(f):
    """(start, end) of the regions of the file that hold data; a sparse file's holes read as zeros."""
    fd, size = f.fileno(), os.fstat(f.fileno()).st_size
    at = 0
    while at < size:
        try:
            start = os.lseek(fd, at, os.SEEK_DATA)
        except OSError:  # no data past at
            return
        end = os.lseek(fd, start, os.SEEK_HOLE)
        yield start, end
        at = end


def absent_query(path):
    """The first of ABSENT whose GBK bytes are nowhere in the file, so its search reads all of it."""
    words = [(w, w.encode("gbk")) for w in ABSENT]
    found = set()
    with open(path, "rb") as f:
        for start, end in data_extents(f):
            f.seek(start)
            tail = b""
            while start < end:
                chunk = f.read(min(16 << 20, end - start))
                if not chunk:
                    break
                start += len(chunk)
                chunk = tail + chunk
                found.update(w for w, b in words if b in chunk)
                tail = chunk[-8:]
    for w, _ in words:
        if w not in found:
            return w
    raise SystemExit(f"{path}: every made-up word is in the file")


def click_text(app, desk, label):
    # A click on the bar gives it the focus, and the file dialog hands the focus back to it:
    # a click into the text first, as a reader would, so the keys turn pages there.
    x0, y0, w, h = client_geometry(desk.env, app.window)
    app.send(None, label, "mousemove", str(x0 + w // 2), str(y0 + h // 2))
    app.send(None, label, "click", "--delay", "0", "1")
    time.sleep(0.3)


def text_rows(env, window):
    """The pixels of the text area's top rows, to tell whether the page changed."""
    x0, y0, w, h = client_geometry(env, window)
    sw, sh, px = screenshot(env)
    return b"".join(px[(y * sw + x0) * 3:(y * sw + x0 + w - 20) * 3] for y in range(y0 + 60, min(y0 + 260, sh)))


def wait_search_end(app, idle, timeout=300):
    """Until the program has no more threads than when idle: its search thread has ended."""
    t = time.monotonic() + timeout
    while app.threads() > idle:
        if time.monotonic() > t:
            print(f"warning: the search still ran after {timeout} s", file=sys.stderr)
            return
        time.sleep(0.05)


def open_with_query(app, desk, path, label, query):
    """Opens the file (not timed: the open row stays the reading and font rounds') and types the query
    into the find bar."""
    open_file(app, path, label, None)
    click_text(app, desk, label)
    app.key(None, label, "ctrl+f")
    time.sleep(0.4)
    app.type(query, delay=100)
    time.sleep(0.4)


def find_hits(app, desk, path, label, plan, out, shot):
    """Return in the find bar finds a word first 100-300 KiB in, each time from the first page; then F3."""
    query, at = near_query(path)
    if query is None:
        print(f"{label}: no word first found 100-300 KiB in; no search", file=sys.stderr)
        return None
    print(f"{label}: search for {query}, first at byte {at}", file=sys.stderr)
    open_with_query(app, desk, path, label, query)
    first_page = text_rows(desk.env, app.window)
    for n in range(plan.finds):
        if n:
            # Back to the first page: the jump to a hit is in the page history, and Page Up from the
            # find field goes on to the text.
            app.key(None, label, "Prior")
            time.sleep(0.5)
        app.hold("find", label, "Return")
        time.sleep(SEARCH_SPACING - KEY_HOLD)
        if n == 0:
            if text_rows(desk.env, app.window) == first_page:
                print(f"warning: {label}: the page did not change on the first search; was {query} typed?",
                      file=sys.stderr)
            if shot:
                # To check by eye: the hit selected on the page's first line, the status "找到…".
                subprocess.run(["import", "-window", "root", os.path.join(out, "found.png")], env=desk.env)
                time.sleep(0.3)
    for _ in range(plan.finds_next):
        app.hold("find_next", label, "F3")
        time.sleep(SEARCH_SPACING - KEY_HOLD)
    app.key(None, label, "Escape")
    time.sleep(0.3)
    return {"query": query, "first_hit": at}


def search_whole(app, desk, path, label, plan, out):
    """A word the file lacks, searched for over all of it, then a Page Down during each of many such
    searches (a page command stops a search). Returns the query and the memory after the whole ones."""
    query = absent_query(path)
    print(f"{label}: search for {query}, not in the file", file=sys.stderr)
    open_with_query(app, desk, path, label, query)
    idle = app.threads()
    for n in range(plan.whole_searches):
        # The first whole search reads most of the file for the first time in the session; it took
        # several times as long as the next ones: a figure of its own.
        app.key("whole" if n else "whole_first", label, "Return")
        time.sleep(0.2)
        wait_search_end(app, idle)
        time.sleep(WHOLE_SEARCH_QUIET + 0.5)
    # To check by eye: the status "找不到…".
    subprocess.run(["import", "-window", "root", os.path.join(out, "not-found.png")], env=desk.env)
    time.sleep(0.3)
    memory = app.memory()
    for _ in range(plan.search_turns):
        # Both keys held, as Return above: the find field's repaint when a key is let go is no part of
        # the first progress or of the page.
        app.hold("search_start", label, "Return", SEARCH_RUNNING - 0.1)
        time.sleep(0.1)
        app.hold("search_down", label, "Next")
        time.sleep(SEARCH_SPACING - KEY_HOLD)
    app.key(None, label, "Escape")
    time.sleep(0.3)
    return {"query": query, "memory": memory}


def search_round(app, desk, files, plan, out):
    """Per file: up to 4 GiB (and from 1 MiB, for a word past the first page), the first hits; over
    4 GiB, the whole searches. {label: what was searched for, and the memory after whole searches}."""
    done = {}
    for path, label in files:
        size = os.path.getsize(path)
        if size > 1 << 32:
            done[label] = search_whole(app, desk, path, label, plan, out)
        elif size >= 1 << 20:
            found = find_hits(app, desk, path, label, plan, out, shot=not done)
            if found:
                done[label] = found
    return done


def chapters_round(app, desk, files, plan, out):
    """Per file: Ctrl+T opens 目录 and starts its chapter scan; Escape closes it (the scan goes on);
    over 4 GiB, pages turn while the scan runs. {label: memory once the scan has ended}."""
    done = {}
    for path, label in files:
        print(f"{label}: chapters", file=sys.stderr)
        open_file(app, path, label, None)
        click_text(app, desk, label)
        idle = app.threads()
        app.key("contents", label, "ctrl+t")
        time.sleep(0.6)
        if not done:
            # To check by eye: the list with its first headings, the scan's state under it.
            subprocess.run(["import", "-window", "root", os.path.join(out, "contents.png")], env=desk.env)
        app.key(None, label, "Escape")
        time.sleep(0.3)
        if os.path.getsize(path) > 1 << 32:
            click_text(app, desk, label)
            if app.threads() <= idle:
                print(f"warning: {label}: the chapter scan ended before the page turns", file=sys.stderr)
            turn_pages(app, label, "Next", "scan_down", plan.scan_turns)
            if app.threads() <= idle:
                print(f"warning: {label}: the chapter scan ended during the page turns", file=sys.stderr)
        wait_search_end(app, idle)
        done[label] = {"memory": app.memory()}
    return done


# ---------------------------------------------------------------- reading the trace

LINE = re.compile(r"^(\d+)\s+(\d+\.\d+) (?:(\w+)\((.*)|<\.\.\. (\w+) resumed>(.*))$")
UNFINISHED = " <unfinished ...>"


def parse(trace):
    """(pid, time, call, arguments and result) per call, the halves of interrupted calls joined; the
    time is the call's start."""
    rows, pending = [], {}
    for line in open(trace, errors="replace"):
        m = LINE.match(line.rstrip("\n"))
        if not m:
            continue
        pid, t = int(m.group(1)), float(m.group(2))
        if m.group(3):
            call, rest = m.group(3), m.group(4)
            if rest.endswith(UNFINISHED):
                pending[pid] = (t, call, rest[:-len(UNFINISHED)])
                continue
            rows.append((pid, t, call, rest))
        else:
            start = pending.pop(pid, None)
            if start and start[1] == m.group(5):
                rows.append((pid, start[0], start[1], start[2] + m.group(6)))
    rows.sort(key=lambda r: r[1])
    return rows


def x_fd(rows, pid):
    for p, t, call, rest in rows:
        if p == pid and call == "connect" and "X11-unix" in rest:
            return rest.split(",")[0]
    raise SystemExit("the program never connected to the X server")


RESULT = re.compile(r"\)\s+=\s+(-?\d+)")


def returned(rest):
    m = None
    for m in RESULT.finditer(rest):
        pass
    return int(m.group(1)) if m else -1


ESCAPES = {"n": 10, "t": 9, "v": 11, "f": 12, "r": 13, "\\": 92, '"': 34}


def first_bytes(rest, n=10):
    """The first bytes of the data strace shows for a read (a C string with escapes)."""
    k = rest.find('iov_base="')
    k = k + 10 if k >= 0 else rest.find('"') + 1
    out, i = [], k
    while 0 < i < len(rest) and len(out) < n and rest[i] != '"':
        c = rest[i]
        if c == "\\":
            j = i + 1
            while j < len(rest) and j < i + 4 and rest[j] in "01234567":
                j += 1
            if j > i + 1:
                out.append(int(rest[i + 1:j], 8))
                i = j
            else:
                out.append(ESCAPES.get(rest[i + 1], ord(rest[i + 1])))
                i += 2
        else:
            out.append(ord(c))
            i += 1
    return out


INPUT = {2: "key", 4: "press", 5: "release", 6: "motion"}  # KeyPress, ButtonPress/Release, MotionNotify


def event_kind(data):
    """The input event a read begins with, core or XInput 2 (Qt takes the mouse through the latter)."""
    if not data:
        return None
    code = data[0] & 0x7F
    if code == 35 and len(data) >= 10:  # GenericEvent: XInput 2 puts its event type at byte 8
        return INPUT.get(data[8] | data[9] << 8)
    return INPUT.get(code)


EXPECTED = {"open": "key", "down": "key", "up": "key", "font": "key", "jump": "press", "far_mid": "press",
            "far_4g": "press", "drag": "motion", "release": "release", "find": "key", "find_next": "key",
            "whole_first": "key", "whole": "key", "search_start": "key", "search_down": "key",
            "contents": "key", "scan_down": "key"}
# The search's actions, timed on the writes of event wake-ups only (the find field's cursor blinks on a
# timer), each with its quiet gap. A Return with a search that a Page Down stops is timed to its first
# progress repaint instead.
SEARCH_GAPS = {"find": SEARCH_QUIET, "find_next": SEARCH_QUIET, "whole_first": WHOLE_SEARCH_QUIET,
               "whole": WHOLE_SEARCH_QUIET, "search_down": QUIET}
PROGRESS_FROM = {"whole_first": "progress", "whole": "progress", "search_start": "progress",
                 "contents": "contents_first"}
# X requests that draw nothing: ChangeProperty (the user time Qt sets on every key press) and
# GetInputFocus (the round trip before the window's image buffer is written again).
NOT_DRAWING = (18, 43)


class Trace:
    def __init__(self, path, pid):
        self.rows = parse(path)
        self.pid = pid
        fd = x_fd(self.rows, pid) + ","
        x_poll = "[{fd=" + fd + " events=POLLIN"
        self.reads, self.read_data, self.writes, self.main_rows = [], [], [], []
        self.main_times, self.main_waits, self.main_by_timer = [], [], []
        # Writes of a wake-up by the event loop's timeout (a timer), not by an event: a blinking cursor.
        self.event_writes, self.drawing = [], []
        self.opened, self.thread_writes = [], {}  # (time, thread, path) by other threads; their writes
        by_timer = False
        for p, t, call, rest in self.rows:
            on_x = rest.startswith(fd)
            is_write = on_x and p == pid and call in ("writev", "sendmsg", "write")
            if p == pid:
                self.main_rows.append((t, is_write))
                self.main_times.append(t)
                # Waiting for events: the event loop's poll that may block (not a zero timeout), not
                # the X library's own poll on the connection while it sends or awaits a reply.
                self.main_waits.append(call in ("poll", "ppoll") and not rest.startswith(x_poll) and not
                                       re.search(r"(, 0|tv_sec=0, tv_nsec=0\})(, NULL, \d+)?\)\s+=", rest))
                if self.main_waits[-1]:
                    by_timer = returned(rest) == 0
                self.main_by_timer.append(by_timer)
            elif call == "openat":
                m = re.match(r'\w+, "([^"]*)"', rest)
                if m:
                    self.opened.append((t, p, m.group(1)))
            elif call == "write":
                self.thread_writes.setdefault(p, []).append(t)
            if is_write and not by_timer:
                self.event_writes.append(t)
                request = first_bytes(rest, 1)
                if not request or request[0] not in NOT_DRAWING:
                    self.drawing.append(t)
            if is_write:
                self.writes.append(t)
            elif on_x and call in ("recvmsg", "read", "recvfrom") and returned(rest) > 0:
                self.reads.append(t)
                self.read_data.append(first_bytes(rest))

    def boundary(self, t, until, kind):
        """Index of the read of the event a command sent at wall time t produced: the first X read with
        data after t that begins with an event of that kind (any input event when kind is None), read
        before the next command (until);
        failing that, the first X read after t. While the program is still drawing, replies to its
        own requests come in between; the event's kind tells them apart."""
        first = bisect.bisect_left(self.reads, t)
        for i in range(first, bisect.bisect_left(self.reads, until)):
            seen = event_kind(self.read_data[i])
            if seen == kind or (kind is None and seen is not None):
                return i
        return first

    def waiting(self, t, or_timer=False):
        """Whether the main thread was waiting for events at time t (its last call a blocking poll);
        with or_timer, also when it was only doing what a timer woke it for."""
        k = bisect.bisect_left(self.main_times, t) - 1
        return k >= 0 and (self.main_waits[k] or (or_timer and self.main_by_timer[k]))

    def settle(self, start, limit, gap, writes=None):
        """The main thread's last X write in [start, limit) before gap seconds without one; None when
        the action wrote nothing. Of all its X writes, or of those given."""
        w = self.writes if writes is None else writes
        i, j = bisect.bisect_left(w, start), bisect.bisect_left(w, limit)
        for k in range(i, j):
            if k + 1 == j or w[k + 1] - w[k] > gap:
                return w[k]
        return None

    def first_progress(self, start, limit, path):
        """The main thread's first drawing X write after the first report of the search that began at
        start: the thread that opens path after start posts its reports to the main thread, the
        first of them with its first write (the wake-up of the event loop)."""
        for t, p, opened in self.opened:
            if t >= start and opened == path and p != self.pid:
                w = self.thread_writes.get(p, [])
                k = bisect.bisect_left(w, t)
                if k == len(w) or w[k] >= limit:
                    return None
                d = bisect.bisect_left(self.drawing, w[k])
                return self.drawing[d] if d < len(self.drawing) and self.drawing[d] < limit else None
            if t >= limit:
                break
        return None

    def startup(self):
        """exec -> the main thread's last X write before it first makes no traced call for 300 ms."""
        rows = self.main_rows
        last = None
        for k in range(bisect.bisect_left(rows, (self.writes[0], True)), len(rows)):
            if rows[k][1]:
                last = rows[k][0]
            if last is not None and (k + 1 == len(rows) or rows[k + 1][0] - rows[k][0] > STARTUP_QUIET):
                break
        return last - rows[0][0]


def measure(trace, marks, paths=None):
    """Latency per timed action: {(label, kind): [ms...]}, plus overlap and event-check counts. With
    the files' paths by label, also Return -> first progress repaint of a search, as kind "progress"."""
    starts = [trace.boundary(t, marks[n + 1][0] if n + 1 < len(marks) else float("inf"), EXPECTED.get(kind))
              for n, (t, kind, _) in enumerate(marks)]
    out, overlapped, checked, matched = {}, {}, {}, {}
    for n, (t, kind, label) in enumerate(marks):
        if kind is None:
            continue
        i = starts[n]
        if i >= len(trace.reads):
            continue
        s = trace.reads[i]
        key = (label, kind)
        checked[key] = checked.get(key, 0) + 1
        nxt = starts[n + 1] if n + 1 < len(marks) else len(trace.reads)
        if nxt == i:  # the next command went out before this one's event was read: no telling them apart
            continue
        limit = trace.reads[nxt] if nxt < len(trace.reads) else float("inf")
        if event_kind(trace.read_data[i]) == EXPECTED[kind]:
            matched[key] = matched.get(key, 0) + 1
        if kind in PROGRESS_FROM and paths:
            shown = trace.first_progress(s, limit, paths[label])
            if shown is not None:
                out.setdefault((label, PROGRESS_FROM[kind]), []).append(1000 * (shown - s))
        if kind in ("search_start", "contents"):
            continue
        if kind in SEARCH_GAPS:
            end = trace.settle(s, limit, SEARCH_GAPS[kind], trace.event_writes)
        else:
            gap = DIALOG_QUIET if kind in ("open", "font", "release") else QUIET
            end = trace.settle(s, limit, gap)
        if end is None:
            continue
        out.setdefault(key, []).append(1000 * (end - s))
        if limit != float("inf") and not trace.waiting(limit, kind in SEARCH_GAPS):
            overlapped[key] = overlapped.get(key, 0) + 1
    return out, overlapped, checked, matched


# ---------------------------------------------------------------- the run

def label_of(path):
    st = os.stat(path)
    size = st.st_size
    for unit, name in ((1 << 30, "GiB"), (1 << 20, "MiB"), (1 << 10, "KiB")):
        if size >= unit:
            text = f"{size / unit:.3g} {name}"
            break
    else:
        text = f"{size} B"
    if st.st_blocks * 512 < size // 2:
        text += " sparse"
    return text


def machine():
    model = "?"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return os.cpu_count(), model


def pct99(x):
    return sorted(x)[min(len(x) - 1, int(0.99 * len(x)))]


def run(a, out):
    """Drives the program; returns what the figures are made from (also kept as session.json)."""
    program = os.path.abspath(a.program)
    if not os.access(program, os.X_OK):
        raise SystemExit(f"not a program: {program}")
    plan = Plan(a.quick)
    home = os.path.join(out, "config")
    os.makedirs(home, exist_ok=True)
    rnd = random.Random(a.seed)
    files = [(os.path.abspath(f), label_of(f)) for f in a.files]
    began = time.monotonic()
    desk = Desktop(home)
    try:
        screen = desk.screen_size()
        startups = []  # each time a fresh process
        for n in range(plan.startups):
            trace = os.path.join(out, f"startup{n}.trace")
            app = Program(desk, program, trace)
            time.sleep(0.8)  # the window is up; its first page follows, then the 300 ms of rest
            app.stop()
            startups.append([trace, app.pid])
            time.sleep(0.3)

        app = Program(desk, program, os.path.join(out, "session.trace"))
        time.sleep(1.5)
        if a.layout != "original":
            choose_layout(app, a.layout)
        memory, bars = {}, {}
        for path, label in files:
            print(f"{label}: reading", file=sys.stderr)
            open_file(app, path, label)
            bar = find_scroll_bar(desk.env, app.window)
            bars[label] = bar
            if len(bars) == 1:
                subprocess.run(["import", "-window", "root", os.path.join(out, "opened.png")], env=desk.env)
            click_text(app, desk, label)
            turn_pages(app, label, "Next", "down", plan.turns)
            if label == files[-1][1]:
                # To check by eye that the keys reached the text: the status bar counts the pages.
                subprocess.run(["import", "-window", "root", os.path.join(out, "paged-down.png")], env=desk.env)
                time.sleep(0.3)
            turn_pages(app, label, "Prior", "up", plan.turns)
            thumb_y = bar_y(bar, 0.0)
            for _ in range(plan.jumps):
                thumb_y = jump(app, label, "jump", bar, random_trough_y(rnd, bar, thumb_y))
            size = os.path.getsize(path)
            if size > 1 << 32:
                # The middle, and the first pixel past 4 GiB: a pixel of the bar is some 7 MB of this
                # file, more than the text the sparse file has there, so that page may be zero bytes.
                for _ in range(plan.far_jumps):
                    jump(app, label, "far_mid", bar, bar_y(bar, 0.5))
                    jump(app, label, "far_4g", bar, bar_y(bar, (1 << 32) / size, past=True))
                # To check by eye that the clicks land on the bar: the thumb at two thirds, and the
                # position in the status bar.
                subprocess.run(["import", "-window", "root", os.path.join(out, "near-4GiB.png")], env=desk.env)
                time.sleep(0.3)
            drag_thumb(app, label, bar, plan.motions)
            memory[label] = app.memory()
        searches, chapters = {}, {}
        if a.search or not a.quick:
            print("search", file=sys.stderr)
            searches = search_round(app, desk, files, plan, out)
        if a.chapters or not a.quick:
            chapters = chapters_round(app, desk, files, plan, out)
        # The dialog takes whole points only, so the default 10.5 pt cannot be chosen back: the font
        # changes come last, in a second round, and every page above is read in the default font.
        for path, label in files:
            print(f"{label}: font changes", file=sys.stderr)
            open_file(app, path, label)
            for n in range(plan.fonts):
                change_font(app, label, 16 if n % 2 == 0 else 11)
        app.stop()
    finally:
        desk.close()
    session = {"program": program, "quick": a.quick, "screen": screen, "files": [l for _, l in files],
               "startups": startups, "trace": app.trace, "pid": app.pid, "marks": app.marks,
               "memory": memory, "bars": bars, "searches": searches, "chapters": chapters,
               "paths": {label: path for path, label in files}, "seconds": round(time.monotonic() - began)}
    with open(os.path.join(out, "session.json"), "w") as f:
        json.dump(session, f)
    return session


NAMES = [("open", "open: Return in the dialog -> page drawn"), ("down", "Page Down"), ("up", "Page Up"),
         ("jump", "scroll-bar jump (middle click at a random place)"),
         ("far_mid", "scroll-bar jump near the middle"), ("far_4g", "scroll-bar jump just past 4 GiB"),
         ("drag", "thumb drag, per motion"), ("release", "thumb release -> idle"),
         ("font", "font change: Return -> page redrawn"),
         ("find", "search {query} (first hit at byte {first_hit}): Return -> hit's page drawn"),
         ("find_next", "search {query}: F3 -> next hit's page drawn"),
         ("progress", "search {query} (absent): Return -> first progress repaint"),
         ("whole_first", "search {query} (absent) of the whole file, the first: Return -> 找不到 drawn"),
         ("whole", "search {query} (absent) of the whole file, again: Return -> 找不到 drawn"),
         ("search_down", "Page Down 0.3 s into a search of the whole file (stops it)"),
         ("contents_first", "目录 (Ctrl+T) -> first headings drawn"),
         ("scan_down", "Page Down while the chapter scan runs")]


def report(session, json_path):
    startups = [1000 * Trace(trace, pid).startup() for trace, pid in session["startups"]]
    trace = Trace(session["trace"], session["pid"])
    lat, overlapped, checked, matched = measure(trace, [tuple(m) for m in session["marks"]],
                                                session.get("paths"))
    searches = session.get("searches", {})
    ncpu, model = machine()
    rows = []

    def row(label, action, kind, values):
        key = (label, kind)
        rows.append({"file": label, "action": action, "count": len(values),
                     "median_ms": statistics.median(values) if values else None,
                     "p99_ms": pct99(values) if values else None,
                     "sent": checked.get(key, 0), "overlapped": overlapped.get(key, 0),
                     "event_checked": matched.get(key, 0)})

    row("", "start-up: exec -> first page drawn and idle", "startup", startups)
    for label in session["files"]:
        for kind, action in NAMES:
            if (label, kind) in lat:
                row(label, action.format(**searches.get(label, {})), kind, lat[(label, kind)])
    for label in session["files"]:
        hwm, rss = session["memory"][label]
        rows.append({"file": label, "action": "memory after its reading actions", "vmhwm_mib": hwm,
                     "vmrss_mib": rss})
    for label in session["files"]:
        if label in session.get("chapters", {}):
            hwm, rss = session["chapters"][label]["memory"]
            rows.append({"file": label, "action": "memory after its chapter scan", "vmhwm_mib": hwm,
                         "vmrss_mib": rss})
    for label in session["files"]:
        if "memory" in searches.get(label, {}):
            hwm, rss = searches[label]["memory"]
            rows.append({"file": label, "action": "memory after its whole searches", "vmhwm_mib": hwm,
                         "vmrss_mib": rss})

    print(f"Machine: {ncpu} CPUs ({model}), Xvfb {session['screen']}, openbox; program {session['program']}"
          + ("; --quick" if session["quick"] else ""))
    print()
    print("| file | action | count | median ms | p99 ms |")
    print("|---|---|---:|---:|---:|")
    for r in rows:
        if "vmhwm_mib" in r:
            print(f"| {r['file']} | resident {r['action']}: VmHWM / VmRSS MiB | | "
                  f"{r['vmhwm_mib']} / {r['vmrss_mib']} | |")
        elif r["count"]:
            print(f"| {r['file'] or '-'} | {r['action']} | {r['count']} | {r['median_ms']:.1f} | "
                  f"{r['p99_ms']:.1f} |")
    sys.stdout.flush()
    # What the figures rest on, for a reader who doubts one of them.
    for r in rows:
        if r.get("sent") and (r["overlapped"] or r["event_checked"] < r["sent"] or r["count"] < r["sent"]):
            print(f"note: {r['file']}, {r['action']}: {r['sent']} sent, {r['count']} timed (with an X write), "
                  f"{r['overlapped']} still busy when the next event came, {r['event_checked']} started at "
                  f"a read of the expected event", file=sys.stderr)
    print(f"traces in {os.path.dirname(session['trace'])}; the run took {session['seconds']} s", file=sys.stderr)
    if json_path:
        with open(json_path, "w") as f:
            json.dump({"machine": {"nproc": ncpu, "cpu": model, "screen": session["screen"]},
                       "program": session["program"], "quick": session["quick"],
                       "seconds": session["seconds"], "rows": rows}, f, indent=1)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="*")
    ap.add_argument("--program", default=os.path.join(REPO, "build", "src", "pagorin"))
    ap.add_argument("--quick", action="store_true", help="fewer repetitions, for a check in a minute or two")
    ap.add_argument("--json", help="also write the figures to this file")
    ap.add_argument("--out", help="keep the traces and the screenshot here (default: a temporary folder)")
    ap.add_argument("--search", action="store_true",
                    help="with --quick, also the search round (a full run always has it)")
    ap.add_argument("--chapters", action="store_true",
                    help="with --quick, also the chapters round (a full run always has it)")
    ap.add_argument("--layout", choices=["original", "book"], default="original",
                    help="the page's layout (Setup > 版式) for every round")
    ap.add_argument("--seed", type=int, default=1, help="for the jump positions")
    ap.add_argument("--again", metavar="DIR", help="only work the figures out again from a kept --out folder")
    a = ap.parse_args()
    if a.again:
        with open(os.path.join(a.again, "session.json")) as f:
            report(json.load(f), a.json)
        return
    if not a.files:
        ap.error("no FILE")
    out = a.out or tempfile.mkdtemp(prefix="xlatency-")
    os.makedirs(out, exist_ok=True)
    report(run(a, out), a.json)


if __name__ == "__main__":
    main()
