#!/usr/bin/env python3
"""Runs the benchmarks and prints their figures beside their targets.

Each figure is the median of several rounds; contenders that are compared
run in the same round, one after the other, in an order that rotates from
round to round, so a noisy neighbour on the machine hits them alike.

  1. Batch overhead: the batch (bench_batch batch) against the floor, the
     same LAME runs started directly (bench_batch floor).
  2. Whole program: the GTK program copied into the input folder, on a
     private Xvfb display, from its start until the last decoder run has
     ended with every WAV file complete; its start-up time to the window
     mapped, and its peak resident memory (VmHWM) then.
  3. Log growth: bench_log with two message counts on the headless, GTK
     and (with --windows-build) Win32 window under Wine.
  4. Responsiveness: bench_respond on GTK and Win32 under Wine.
  5. The Windows executable: size and imported DLLs.
  6. Per-file cost: the whole program on folders of many short MP3s against
     the bare serial loop of the same LAME runs, traced with the kernel's
     scheduler events (perf) to split it into start-up (exec to the first
     decoder's start, beside a bare window of the same widgets) and the
     steady part; with --before-build, an older build beside it.
  Peer: SoundConverter on the input of 1 and 2, in full runs where it is
     installed (bench.sh installs it).

Usage: run.py --linux-build DIR [--windows-build DIR] [--before-build DIR]
              [--short] [--rounds N] [--work DIR] [--json FILE]
              [--only GROUPS]
GROUPS is a comma-separated subset of batch (1, 2), log (3), respond (4),
perfile (6), perfile-wine (6 under Wine only).
"""

import argparse
import contextlib
import glob
import json
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "scripts"))
import display, tones, wineprefix  # noqa: E402

TITLE = "Larkspire Decompress Tool"

# Benchmarks 1 and 2 take under a second a run, so they get more rounds.
FULL = {"files": 20, "seconds": 20, "messages": (2000, 20000),
        "wine_messages": (2000, 20000), "sleep_ms": 3000, "rounds": 5,
        "batch_rounds": 11, "perfile": ((100, 1.0), (1000, 0.2)),
        "perfile_rounds": 9, "wine_perfile_rounds": 5}
# For CI: every benchmark once, at a size that only shows it works.
SHORT = {"files": 2, "seconds": 2, "messages": (200, 2000),
         "wine_messages": (20, 200), "sleep_ms": 300, "rounds": 1,
         "batch_rounds": 1, "perfile": ((3, 0.5),), "perfile_rounds": 1,
         "wine_perfile_rounds": 1}

TARGETS = {
    "batch_ratio": 1.03,
    "program_hwm_mib": 40,
    "log_ratio": 15,
    "gtk_log_20000_s": 1.0,
    "respond_max_ms": 50,
    "perfile_steady_ms": 1.0,
    "perfile_startup_over_bare_ms": 5.0,
    "perfile_hwm_mib": 25,
}


class BenchError(Exception):
    pass


# ---- Input ------------------------------------------------------------------

def make_input(folder, files, seconds, name="track%02d.mp3"):
    """`files` MP3 files of `seconds` each, encoded by LAME from tones of
    different pitches; kept between runs of the same size."""
    stamp = os.path.join(folder, ".made")
    wanted = "%d x %g s\n" % (files, seconds)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i in range(files):
        tones.make_mp3(os.path.join(folder, name % i), seconds,
                       220 + 37 * (i % 50), channels=2, lame=())
    with open(stamp, "w") as f:
        f.write(wanted)


def wav_paths(folder):
    return [os.path.join(folder, n[:-3] + "wav")
            for n in sorted(os.listdir(folder)) if n.endswith(".mp3")]


def remove_wavs(folder):
    for path in wav_paths(folder):
        if os.path.exists(path):
            os.unlink(path)


def wav_complete(path):
    """True when the file holds a RIFF/WAVE header and all the data its
    "data" chunk claims (LAME writes the header first)."""
    return tones.wav_samples(path) is not None


# ---- Running the benchmark programs -----------------------------------------

def run_figures(command, env=None, timeout=1800):
    """Runs a benchmark program and returns its "name value" lines."""
    done = subprocess.run(command, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=env,
                          timeout=timeout)
    if done.returncode != 0:
        raise BenchError("%s failed (%d): %s" % (
            os.path.basename(command[-2] if command[0] == "wine"
                             else command[0]),
            done.returncode, done.stderr.strip()[-2000:]))
    figures = {}
    for line in done.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                figures[parts[0]] = float(parts[1])
            except ValueError:
                pass
    return figures


def rotated(items, round_number):
    k = round_number % len(items)
    return items[k:] + items[:k]


def median(values):
    return statistics.median(values) if values else float("nan")


def quartiles(values):
    """The first and third quartiles: how noisy the rounds were."""
    if len(values) < 2:
        return [values[0]] * 2 if values else [float("nan")] * 2
    q = statistics.quantiles(values, n=4)
    return [q[0], q[2]]


# ---- 1 and 2: batch overhead and the whole program --------------------------

def run_program(program, folder, shown_tool, env):
    """Starts the program in `folder` and waits for the batch's end: no
    decoder run left and every WAV file complete. Returns (seconds to the
    end, seconds to the window shown, peak resident memory in KiB, process
    id)."""
    wavs = wav_paths(folder)
    watcher = subprocess.Popen([shown_tool, TITLE], stdout=subprocess.PIPE,
                               text=True, env=env)
    try:
        if watcher.stdout.readline().strip() != "ready":
            raise BenchError("bench_window_shown did not start")
        start = time.monotonic()
        proc = subprocess.Popen([program], cwd=folder, env=env,
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        children = "/proc/%d/task/%d/children" % (proc.pid, proc.pid)
        limit = start + 600
        try:
            while True:
                if proc.poll() is not None:
                    raise BenchError("the program ended by itself (%d)"
                                     % proc.returncode)
                with open(children) as f:
                    idle = not f.read().strip()
                # The batch goes in name order: the last WAV file first, so
                # that a large folder is not read through every 5 ms.
                if idle and (not wavs or wav_complete(wavs[-1])) and all(
                        wav_complete(w) for w in wavs):
                    break
                if time.monotonic() > limit:
                    raise BenchError("the program's batch did not end")
                time.sleep(0.005)
            end = time.monotonic()
            with open("/proc/%d/status" % proc.pid) as f:
                hwm = next(int(line.split()[1]) for line in f
                           if line.startswith("VmHWM:"))
        finally:
            proc.terminate()
            proc.wait()
        shown_line, _ = watcher.communicate(timeout=10)
        shown = float(shown_line.split()[1]) - start
    finally:
        if watcher.poll() is None:
            watcher.kill()
            watcher.wait()
    return end - start, shown, hwm, proc.pid


def bench_batch(args, cfg, env, results):
    folder = os.path.join(args.work, "input-%dx%ds" % (cfg["files"],
                                                       cfg["seconds"]))
    make_input(folder, cfg["files"], cfg["seconds"])
    program = os.path.join(folder, "larkspire_decompress")
    shutil.copy2(os.path.join(args.linux_build, "larkspire_decompress"),
                 program)
    batch_tool = os.path.join(args.linux_build, "bench", "bench_batch")
    shown_tool = os.path.join(args.linux_build, "bench", "bench_window_shown")

    def floor():
        return run_figures([batch_tool, "floor", folder])["seconds"]

    def batch():
        return run_figures([batch_tool, "batch", folder])["seconds"]

    def whole():
        return run_program(program, folder, shown_tool, env)

    contenders = [("floor", floor), ("batch", batch), ("program", whole)]
    rounds = []
    # Round 0 warms the page cache and is not counted.
    for number in range(cfg["batch_rounds"] + 1):
        row = {}
        for name, run in rotated(contenders, number):
            remove_wavs(folder)
            row[name] = run()
        remove_wavs(folder)
        if number > 0:
            rounds.append(row)
        print("  round %d: floor %.3f s, batch %.3f s, program %.3f s%s" % (
            number, row["floor"], row["batch"], row["program"][0],
            " (warm-up)" if number == 0 else ""), flush=True)

    results["batch"] = {
        "input": "%d MP3 files of %d s" % (cfg["files"], cfg["seconds"]),
        "floor_s": median([r["floor"] for r in rounds]),
        "batch_s": median([r["batch"] for r in rounds]),
        "ratio": median([r["batch"] / r["floor"] for r in rounds]),
        "ratio_quartiles": quartiles([r["batch"] / r["floor"] for r in rounds]),
        "ratios": [r["batch"] / r["floor"] for r in rounds],
    }
    results["program"] = {
        "seconds": median([r["program"][0] for r in rounds]),
        "ratio": median([r["program"][0] / r["floor"] for r in rounds]),
        "ratio_quartiles": quartiles(
            [r["program"][0] / r["floor"] for r in rounds]),
        "startup_s": median([r["program"][1] for r in rounds]),
        "hwm_mib": median([r["program"][2] / 1024 for r in rounds]),
        "hwm_max_mib": max(r["program"][2] / 1024 for r in rounds),
    }
    if not args.short and shutil.which("soundconverter"):
        results["peer"] = bench_peer(folder, args.work, results["batch"]["floor_s"])
    results["setting"] = {
        "mesa": os.path.exists("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"),
        "accessibility_bus": "off (NO_AT_BRIDGE=1, no session bus)"}
    scale = run_figures([batch_tool, "scale", folder])
    print("  10,000 files, %d of them MP3s: %.2f s, peak memory +%d KiB" % (
        cfg["files"], scale["seconds"], scale["peak_growth_kib"]), flush=True)
    results["scale"] = scale


# ---- Peer: SoundConverter on the same MP3 files ----------------------------

def bench_peer(folder, work, floor_s):
    """SoundConverter, a desktop converter, on the same MP3 files with 1 and
    2 jobs: its wall time against the floor, and its peak memory."""
    mp3s = sorted(glob.glob(os.path.join(folder, "*.mp3")))
    peer = {}
    for jobs in (1, 2):
        out = os.path.join(work, "soundconverter-%d" % jobs)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        done = subprocess.run(
            ["/usr/bin/time", "-f", "%e %M", "soundconverter", "-b", "-f", "wav",
             "-o", out, "-j", str(jobs)] + mp3s,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
        wall, kib = done.stderr.strip().splitlines()[-1].split()
        peer[jobs] = {"seconds": float(wall), "ratio": float(wall) / floor_s,
                      "hwm_mib": int(kib) / 1024}
        print("  soundconverter -j %d: %.2f s (%.2f x floor), peak %.1f MiB" % (
            jobs, float(wall), peer[jobs]["ratio"], peer[jobs]["hwm_mib"]), flush=True)
    return peer


# ---- 3: log growth ----------------------------------------------------------

def bench_log(name, command, counts, rounds, env):
    times = {n: [] for n in counts}
    pumps = {n: [] for n in counts}
    ratios = []
    for number in range(rounds):
        row = {}
        for n in rotated(list(counts), number):
            figures = run_figures(command + [str(n)], env=env)
            row[n] = figures["seconds"]
            times[n].append(figures["seconds"])
            pumps[n].append(figures.get("pump_seconds", 0.0))
        ratios.append(row[counts[1]] / row[counts[0]])
        print("  %s round %d: %s" % (name, number, ", ".join(
            "%d: %.3f s" % (n, row[n]) for n in counts)), flush=True)
    return {
        "counts": list(counts),
        "seconds": {str(n): median(times[n]) for n in counts},
        "pump_seconds": {str(n): median(pumps[n]) for n in counts},
        "ratio": median(ratios),
    }


# ---- 4: responsiveness ------------------------------------------------------

def bench_respond(name, command, folder, sleep_ms, rounds, env):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "wait.mp3"), "w") as f:
        f.write("sleep %d\n" % sleep_ms)
    runs = []
    for number in range(rounds):
        remove_wavs(folder)
        figures = run_figures(command, env=env)
        runs.append(figures)
        print("  %s round %d: %d events, p99 %.2f ms, max %.2f ms (posted"
              " at %.0f ms)" % (name, number, figures["events"],
                                figures["p99_ms"], figures["max_ms"],
                                figures["max_posted_at_ms"]), flush=True)
    remove_wavs(folder)
    return {
        "decoder_ms": sleep_ms,
        "events": median([r["events"] for r in runs]),
        "median_ms": median([r["median_ms"] for r in runs]),
        "p99_ms": median([r["p99_ms"] for r in runs]),
        "max_ms": median([r["max_ms"] for r in runs]),
        "worst_max_ms": max(r["max_ms"] for r in runs),
        "runs": runs,
    }


# ---- 6: per-file cost on many short MP3 files -------------------------------

SCHED_EVENTS = ("sched:sched_process_fork", "sched:sched_process_exec",
                "sched:sched_process_exit")
LAME = "/usr/bin/lame"


class SchedTrace:
    """Every process's fork, exec and exit on the machine, as the kernel
    records them, for one round: `with SchedTrace(path) as trace:`, then
    trace.events, a list of (seconds, kind, pid, detail) where detail is the
    child's pid of a fork and the file name of an exec."""

    def __init__(self, path):
        self.path, self.events = path, []

    def __enter__(self):
        self.perf = subprocess.Popen(
            ["perf", "record", "-q", "-a", "-o", self.path] +
            sum((["-e", e] for e in SCHED_EVENTS), []),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)  # perf prints nothing once it records
        return self

    def __exit__(self, *exc):
        self.perf.send_signal(signal.SIGINT)
        self.perf.wait(timeout=60)
        script = subprocess.run(
            ["perf", "script", "-i", self.path, "-F", "pid,tid,time,event,trace"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        for line in script.splitlines():
            m = re.match(r"\s*(\d+)/(\d+)\s+([\d.]+):\s+sched:sched_process_(\w+):"
                         r"\s+(.*)$", line)
            if not m:
                continue
            pid, tid, t, kind, rest = (int(m[1]), int(m[2]), float(m[3]),
                                       m[4], m[5])
            fields = dict(f.split("=", 1) for f in rest.split() if "=" in f)
            if kind == "fork" and fields["pid"] == str(pid):  # not a thread
                self.events.append((t, "fork", pid, int(fields["child_pid"])))
            elif kind == "exec":
                self.events.append((t, "exec", pid, fields["filename"]))
            elif kind == "exit" and pid == tid:
                self.events.append((t, "exit", pid, None))
        os.unlink(self.path)
        return False

    def runs(self, parent):
        """`parent`'s exec, and the (fork, exec, exit) times of each LAME
        run it started, in order."""
        first = {}
        for t, kind, pid, detail in self.events:
            first.setdefault((kind, pid), (t, detail))
        started = first.get(("exec", parent), (None,))[0]
        runs = []
        for t, kind, pid, child in self.events:
            if kind != "fork" or pid != parent:
                continue
            exec_ = first.get(("exec", child))
            end = first.get(("exit", child))
            if exec_ and exec_[1] == LAME and end:
                runs.append((t, exec_[0], end[0]))
        return started, sorted(runs)

    def first_start(self, pid):
        """`pid`'s exec and the first child process it started (a new
        thread is a fork to the kernel too, but never ends or execs as a
        process of its own)."""
        processes = {p for _, k, p, _ in self.events if k in ("exec", "exit")}
        started = [t for t, k, p, _ in self.events if k == "exec" and p == pid]
        forked = [t for t, k, p, child in self.events
                  if k == "fork" and p == pid and child in processes]
        if not started or not forked:
            raise BenchError("the trace misses the start of process %d" % pid)
        return started[0], forked[0]


def pid_run(command, env=None, cwd=None):
    """Runs a program to its end; returns its pid and its "name value"
    figures."""
    proc = subprocess.Popen(command, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env, cwd=cwd)
    out, err = proc.communicate(timeout=1800)
    if proc.returncode != 0:
        raise BenchError("%s failed (%d): %s" % (
            os.path.basename(command[0]), proc.returncode, err.strip()[-2000:]))
    figures = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 2:
            figures[parts[0]] = float(parts[1])
    return proc.pid, figures


def between_runs(runs):
    """The median time from one LAME run's exit to the next one's exec:
    what a batch adds around each run, untouched by how long LAME itself
    took (which other jobs on the machine stretch or not)."""
    return median([b[0] - a[2] for a, b in zip(runs, runs[1:])] or [0.0]) + \
        median([r[1] - r[0] for r in runs])


def run_bare(bare_tool, folder, shown_tool, env):
    """Runs the bare window as run_program runs the program: the same
    watcher on the display, and the same polling beside it (on a machine of
    two CPUs that polling takes its share); returns its pid."""
    watcher = subprocess.Popen([shown_tool, TITLE], stdout=subprocess.PIPE,
                               text=True, env=env)
    try:
        if watcher.stdout.readline().strip() != "ready":
            raise BenchError("bench_window_shown did not start")
        proc = subprocess.Popen([bare_tool], cwd=folder, env=env,
                                stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        children = "/proc/%d/task/%d/children" % (proc.pid, proc.pid)
        last = wav_paths(folder)[-1]
        while proc.poll() is None:
            with contextlib.suppress(OSError), open(children) as f:
                f.read()
            wav_complete(last)
            time.sleep(0.005)
        if proc.returncode != 0:
            raise BenchError("bench_bare_window failed (%d)" % proc.returncode)
        watcher.communicate(timeout=10)
    finally:
        if watcher.poll() is None:
            watcher.kill()
            watcher.wait()
    return proc.pid


def perfile_figures(trace, pid, files, floor_runs):
    """Start-up, the part over the bare loop per file, and the median
    fork-to-exec and exit-to-next-fork, all from the trace."""
    started, runs = trace.runs(pid)
    if len(runs) != files or started is None:
        raise BenchError("the trace holds %d of %d LAME runs" % (len(runs), files))
    floor_span = floor_runs[-1][2] - floor_runs[0][0]
    span = runs[-1][2] - runs[0][0]
    return {
        "startup_ms": (runs[0][0] - started) * 1e3,
        "whole_s": runs[-1][2] - started,
        "over_loop_ms": (runs[-1][2] - started - floor_span) / files * 1e3,
        "span_over_loop_ms": (span - floor_span) / files * 1e3,
        "steady_ms": (between_runs(runs) - between_runs(floor_runs)) * 1e3,
        "fork_exec_ms": median([r[1] - r[0] for r in runs]) * 1e3,
        "exit_fork_ms": median([b[0] - a[2] for a, b in zip(runs, runs[1:])]
                               or [0.0]) * 1e3,
    }


def bench_perfile(args, cfg, env, results):
    if not shutil.which("perf"):
        results["skipped"].append("6 per-file cost (no perf to trace with)")
        return
    batch_tool = os.path.join(args.linux_build, "bench", "bench_batch")
    shown_tool = os.path.join(args.linux_build, "bench", "bench_window_shown")
    bare_tool = os.path.join(args.linux_build, "bench", "bench_bare_window")
    builds = [("now", args.linux_build)]
    if args.before_build:
        builds.append(("before", os.path.abspath(args.before_build)))
    results["perfile"] = {}
    for files, secs in cfg["perfile"]:
        folder = os.path.join(args.work, "short-%dx%gs" % (files, secs))
        make_input(folder, files, secs, "short%04d.mp3")
        programs = {}
        for name, build in builds:
            programs[name] = os.path.join(folder, "larkspire_decompress_" + name)
            shutil.copy2(os.path.join(build, "larkspire_decompress"),
                         programs[name])
        rows = []
        for number in range(cfg["perfile_rounds"] + 1):
            with SchedTrace(os.path.join(args.work, "sched.data")) as trace:
                row, pids = {}, {}
                contenders = ["floor", "bare"] + [n for n, _ in builds]
                for name in rotated(contenders, number):
                    remove_wavs(folder)
                    if name == "floor":
                        pids[name], figures = pid_run([batch_tool, "floor", folder])
                        row["floor_wall"] = figures["seconds"]
                    elif name == "bare":
                        pids[name] = run_bare(bare_tool, folder, shown_tool, env)
                    else:
                        wall, shown, hwm, pids[name] = run_program(
                            programs[name], folder, shown_tool, env)
                        row[name] = {"wall_s": wall, "hwm_mib": hwm / 1024}
                remove_wavs(folder)
            _, floor_runs = trace.runs(pids["floor"])
            if len(floor_runs) != files:
                raise BenchError("the trace holds %d of the floor's %d runs"
                                 % (len(floor_runs), files))
            floor_span = floor_runs[-1][2] - floor_runs[0][0]
            row["floor_s"] = floor_span
            row["floor_fork_exec_ms"] = median(
                [r[1] - r[0] for r in floor_runs]) * 1e3
            row["floor_between_ms"] = between_runs(floor_runs) * 1e3
            bare_exec, bare_fork = trace.first_start(pids["bare"])
            row["bare_startup_ms"] = (bare_fork - bare_exec) * 1e3
            for name, _ in builds:
                row[name].update(perfile_figures(trace, pids[name], files,
                                                 floor_runs))
            if number > 0:
                rows.append(row)
            print("  %d x %g s, round %d: loop %.3f s, bare window %.1f ms%s%s" % (
                files, secs, number, floor_span, row["bare_startup_ms"],
                "".join(", %s %.3f s (start-up %.1f ms, between runs +%.2f ms)" % (
                    n, row[n]["whole_s"], row[n]["startup_ms"], row[n]["steady_ms"])
                    for n, _ in builds),
                " (warm-up)" if number == 0 else ""), flush=True)
        size = {"files": files, "seconds_each": secs,
                "loop_s": median([r["floor_s"] for r in rows]),
                "loop_fork_exec_ms": median([r["floor_fork_exec_ms"] for r in rows]),
                "loop_between_ms": median([r["floor_between_ms"] for r in rows]),
                "bare_startup_ms": median([r["bare_startup_ms"] for r in rows])}
        for name, _ in builds:
            size[name] = {key: median([r[name][key] for r in rows])
                          for key in rows[0][name]}
            size[name]["startup_over_bare_ms"] = median(
                [r[name]["startup_ms"] - r["bare_startup_ms"] for r in rows])
            size[name]["hwm_max_mib"] = max(r[name]["hwm_mib"] for r in rows)
        if files == cfg["perfile"][0][0]:
            size["among_10000"] = among_10000(folder, programs, shown_tool, env)
        results["perfile"]["%dx%g" % (files, secs)] = size


def among_10000(folder, programs, shown_tool, env):
    """Peak memory of each program on the same MP3 files among other
    files, 10,000 in all: how much a large folder adds."""
    big = folder + "-among-10000"
    mp3s = sorted(n for n in os.listdir(folder) if n.endswith(".mp3"))
    if not os.path.isdir(big):
        os.makedirs(big)
        for name in mp3s:
            os.link(os.path.join(folder, name), os.path.join(big, name))
        for i in range(10000 - len(mp3s)):
            open(os.path.join(big, "other%05d.txt" % i), "w").close()
    peaks = {}
    for name, program in programs.items():
        copy = os.path.join(big, os.path.basename(program))
        shutil.copy2(program, copy)
        remove_wavs(big)
        peaks[name] = run_program(copy, big, shown_tool, env)[2] / 1024
        remove_wavs(big)
        print("  %s among 10,000 files: peak memory %.1f MiB" % (
            name, peaks[name]), flush=True)
    return peaks


def wine_lame_running():
    """Whether a LAME run under Wine is under way (Wine shows a program by
    its Windows path)."""
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    if b"lame.exe" in f.read().lower():
                        return True
            except OSError:
                pass
    return False


def bench_wine_perfile(args, cfg, wine, results):
    """The Windows program under Wine on the first per-file size, against
    the bare Win32 loop of the same LAME (bench_floor.exe), both timed from
    their start by Wine to their last WAV file; per file over the loop."""
    win = os.path.abspath(args.windows_build)
    lame = os.path.join(win, "lame-windows", "lame.exe")
    if not os.path.exists(lame):
        results["skipped"].append("6 per-file cost under Wine (no %s)" % lame)
        return
    decoder = os.path.join(wine.folder, "drive_c", "Progra~1", "Lame", "lame.exe")
    os.makedirs(os.path.dirname(decoder), exist_ok=True)
    shutil.copy2(lame, decoder)
    files, secs = cfg["perfile"][0]
    folder = os.path.join(args.work, "short-%dx%gs" % (files, secs))
    make_input(folder, files, secs, "short%04d.mp3")
    wavs = wav_paths(folder)
    builds = [("now", win)]
    if args.before_windows_build:
        builds.append(("before", os.path.abspath(args.before_windows_build)))
    exes = {}
    for name, build in builds:
        exes[name] = os.path.join(folder, "larkspire_%s.exe" % name)
        shutil.copy2(os.path.join(build, "larkspire_decompress.exe"), exes[name])
    floor_tool = os.path.join(win, "bench", "bench_floor.exe")
    lame_path = "C:\\Progra~1\\Lame\\lame.exe"
    folder_path = wine.path(folder)

    def floor():
        start = time.monotonic()
        run_figures(["wine", floor_tool, lame_path, folder_path], env=wine.env)
        return time.monotonic() - start

    def program(exe):
        start = time.monotonic()
        proc = subprocess.Popen(["wine", wine.path(exe)], cwd=folder, env=wine.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            while not (wav_complete(wavs[-1]) and not wine_lame_running()
                       and all(wav_complete(w) for w in wavs)):
                if proc.poll() is not None:
                    raise BenchError("the program ended by itself")
                if time.monotonic() > start + 1200:
                    raise BenchError("the program's batch did not end")
                time.sleep(0.01)
            return time.monotonic() - start
        finally:
            proc.terminate()
            proc.wait()

    rows = []
    for number in range(cfg["wine_perfile_rounds"] + 1):
        row = {}
        for name in rotated(["floor"] + [n for n, _ in builds], number):
            remove_wavs(folder)
            row[name] = floor() if name == "floor" else program(exes[name])
        remove_wavs(folder)
        if number > 0:
            rows.append(row)
        print("  Wine, %d x %g s, round %d: loop %.3f s%s%s" % (
            files, secs, number, row["floor"], "".join(
                ", %s %.3f s" % (n, row[n]) for n, _ in builds),
            " (warm-up)" if number == 0 else ""), flush=True)
    size = {"files": files, "seconds_each": secs,
            "loop_s": median([r["floor"] for r in rows])}
    for name, _ in builds:
        size[name] = {"seconds": median([r[name] for r in rows]),
                      "over_loop_ms": median([(r[name] - r["floor"]) / files * 1e3
                                              for r in rows])}
    results["perfile_wine"] = size


# ---- 5: the Windows executable ----------------------------------------------

def windows_executable(build):
    exe = os.path.join(build, "larkspire_decompress.exe")
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    dlls = [line.split("DLL Name:")[1].strip() for line in dump.splitlines()
            if "DLL Name:" in line]
    return {"bytes": os.path.getsize(exe), "dlls": dlls}


# ---- Report -----------------------------------------------------------------

def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return {"cpus": os.cpu_count(), "cpu": model,
            "kernel": platform.release(),
            "load": " ".join("%.2f" % x for x in os.getloadavg())}


def seconds(value):
    return "%.3f s" % value if value >= 0.1 else "%.2f ms" % (value * 1e3)


def verdict(value, target):
    if value != value:  # NaN
        return "n/a"
    return "meets" if value <= target else "MISSES"


def print_table(results, short):
    rows = []
    b, p = results.get("batch"), results.get("program")
    if b:
        rows.append(("1 batch / floor (%s)" % b["input"],
                     "%.3f (quartiles %.3f-%.3f; %s / %s)" % (
                         b["ratio"], b["ratio_quartiles"][0],
                         b["ratio_quartiles"][1], seconds(b["batch_s"]),
                         seconds(b["floor_s"])),
                     "<= %.2f" % TARGETS["batch_ratio"],
                     verdict(b["ratio"], TARGETS["batch_ratio"])))
    if p:
        rows.append(("2 program / floor", "%.3f (%s)" % (
            p["ratio"], seconds(p["seconds"])), "-", ""))
        rows.append(("2 program start-up to window", seconds(p["startup_s"]),
                     "-", ""))
        rows.append(("2 program peak memory (VmHWM)", "%.1f MiB" % p["hwm_mib"],
                     "<= %d MiB" % TARGETS["program_hwm_mib"],
                     verdict(p["hwm_mib"], TARGETS["program_hwm_mib"])))
    for jobs, peer in sorted(results.get("peer", {}).items()):
        rows.append(("2 peer soundconverter -j %d / floor" % jobs, "%.3f (%s, %.1f MiB)" % (
            peer["ratio"], seconds(peer["seconds"]), peer["hwm_mib"]), "-", ""))
    for backend in ("headless", "gtk", "win32"):
        log = results.get("log", {}).get(backend)
        if not log:
            continue
        small, large = log["counts"]
        rows.append(("3 log %s t(%d) / t(%d)" % (backend, large, small),
                     "%.1f (%s / %s)" % (
                         log["ratio"], seconds(log["seconds"][str(large)]),
                         seconds(log["seconds"][str(small)])),
                     "<= %d" % TARGETS["log_ratio"],
                     verdict(log["ratio"], TARGETS["log_ratio"])))
        if backend == "gtk" and not short:
            t = log["seconds"][str(large)]
            rows.append(("3 log gtk t(%d)" % large, seconds(t),
                         "< %.0f s" % TARGETS["gtk_log_20000_s"],
                         verdict(t, TARGETS["gtk_log_20000_s"])))
    for backend in ("gtk", "win32"):
        r = results.get("respond", {}).get(backend)
        if r:
            rows.append(("4 event wait %s, max (p99)" % backend,
                         "%.1f ms (%.1f ms)" % (r["max_ms"], r["p99_ms"]),
                         "<= %d ms" % TARGETS["respond_max_ms"],
                         verdict(r["max_ms"], TARGETS["respond_max_ms"])))
    for key, size in results.get("perfile", {}).items():
        label = "6 %d MP3s of %g s" % (size["files"], size["seconds_each"])
        rows.append((label + ": bare loop", "%s (between runs %.2f ms, fork to"
                     " exec %.2f ms)" % (seconds(size["loop_s"]),
                                         size["loop_between_ms"],
                                         size["loop_fork_exec_ms"]), "-", ""))
        rows.append((label + ": bare window start-up",
                     "%.1f ms" % size["bare_startup_ms"], "-", ""))
        for name in ("before", "now"):
            f = size.get(name)
            if not f:
                continue
            rows.append(("%s, %s: over the loop a file" % (label, name),
                         "%.2f ms (%s in all; %.2f ms a file from the first"
                         " run on)" % (f["over_loop_ms"], seconds(f["whole_s"]),
                                       f["span_over_loop_ms"]), "-", ""))
            rows.append(("%s, %s: steady a file, between runs" % (label, name),
                         "%.2f ms (fork to exec %.2f ms, exit to next fork"
                         " %.2f ms)" % (f["steady_ms"], f["fork_exec_ms"],
                                        f["exit_fork_ms"]),
                         "<= %.0f ms" % TARGETS["perfile_steady_ms"],
                         verdict(f["steady_ms"], TARGETS["perfile_steady_ms"])))
            rows.append(("%s, %s: start-up over bare window" % (label, name),
                         "%+.1f ms (%.1f ms)" % (f["startup_over_bare_ms"],
                                                 f["startup_ms"]),
                         "<= %.0f ms" % TARGETS["perfile_startup_over_bare_ms"],
                         verdict(f["startup_over_bare_ms"],
                                 TARGETS["perfile_startup_over_bare_ms"])))
            among = size.get("among_10000", {}).get(name)
            rows.append(("%s, %s: peak memory" % (label, name),
                         "%.1f MiB (largest %.1f%s)" % (
                             f["hwm_mib"], f["hwm_max_mib"],
                             "; among 10,000 files %.1f" % among
                             if among else ""),
                         "<= %d MiB" % TARGETS["perfile_hwm_mib"],
                         verdict(f["hwm_mib"], TARGETS["perfile_hwm_mib"])))
    w = results.get("perfile_wine")
    if w:
        label = "6 Wine, %d MP3s of %g s" % (w["files"], w["seconds_each"])
        rows.append((label + ": bare Win32 loop", seconds(w["loop_s"]), "-", ""))
        for name in ("before", "now"):
            if w.get(name):
                rows.append(("%s, %s: over the loop a file" % (label, name),
                             "%.2f ms (%s)" % (w[name]["over_loop_ms"],
                                               seconds(w[name]["seconds"])),
                             "-", ""))
    exe = results.get("windows_exe")
    if exe:
        rows.append(("5 larkspire_decompress.exe", "%d bytes" % exe["bytes"],
                     "-", ""))
        rows.append(("5 imported DLLs", ", ".join(exe["dlls"]), "-", ""))
    for skipped in results.get("skipped", []):
        rows.append((skipped, "skipped", "", ""))

    widths = [max(len(r[i]) for r in rows) for i in range(3)]
    print()
    print("%s, %s" % ("Short mode (figures only show the benchmarks run)"
                      if short else "Medians of %d rounds (1, 2: %d; 6: %d)" % (
                          results["rounds"], results["batch_rounds"],
                          results["perfile_rounds"]),
                      "%(cpus)d CPUs, %(cpu)s, load %(load)s" %
                      results["machine"]))
    for row in rows:
        if short:  # too small to judge
            row = row[:3] + ("",)
        print("  %-*s  %-*s  %-*s  %s" % (widths[0], row[0], widths[1], row[1],
                                          widths[2], row[2], row[3]))


def run_groups(args, cfg, only, env, cleanup, results):
    """Runs the benchmark groups asked for on the display `env` names."""
    bench_dir = os.path.join(args.linux_build, "bench")
    standin = os.path.join(args.linux_build, "tests", "standin_decoder")
    if "batch" in only:
        print("1, 2: batch overhead and the whole program", flush=True)
        bench_batch(args, cfg, env, results)
    if "perfile" in only:
        print("6: per-file cost on many short files", flush=True)
        bench_perfile(args, cfg, env, results)
    if "log" in only:
        print("3: log growth", flush=True)
        results["log"]["headless"] = bench_log(
            "headless", [os.path.join(bench_dir, "bench_log_headless")],
            cfg["messages"], cfg["rounds"], None)
        results["log"]["gtk"] = bench_log(
            "gtk", [os.path.join(bench_dir, "bench_log")],
            cfg["messages"], cfg["rounds"], env)
    if "respond" in only:
        print("4: responsiveness", flush=True)
        results["respond"]["gtk"] = bench_respond(
            "gtk", [os.path.join(bench_dir, "bench_respond"),
                    os.path.join(args.work, "respond-gtk"), standin],
            os.path.join(args.work, "respond-gtk"), cfg["sleep_ms"],
            cfg["rounds"], env)

    if args.windows_build:
        win = os.path.abspath(args.windows_build)
        # setup.sh registers the emulator only where the kernel cannot
        # run 32-bit programs itself.
        emulated = os.path.exists("/proc/sys/fs/binfmt_misc/qemu-i386")
        print("3, 4 on Win32 under Wine%s" % (
            " (emulated by QEMU: its times are the emulator's too)" if emulated else ""),
            flush=True)
        wine = wineprefix.Prefix(os.path.join(win, "bench-wineprefix"), env)
        cleanup.callback(wine.close)
        wine.boot()
        if "log" in only:
            results["log"]["win32"] = bench_log(
                "win32",
                ["wine", os.path.join(win, "bench", "bench_log.exe")],
                cfg["wine_messages"], cfg["rounds"], wine.env)
        if "respond" in only:
            folder = os.path.join(args.work, "respond-win32")
            os.makedirs(folder, exist_ok=True)
            results["respond"]["win32"] = bench_respond(
                "win32",
                ["wine", os.path.join(win, "bench", "bench_respond.exe"),
                 wine.path(folder),
                 wine.path(os.path.join(win, "tests",
                                        "standin_decoder.exe"))],
                folder, cfg["sleep_ms"], cfg["rounds"], wine.env)
        if {"perfile", "perfile-wine"} & only:
            bench_wine_perfile(args, cfg, wine, results)
        results["windows_exe"] = windows_executable(win)
    else:
        results["skipped"].append("3, 4, 5 on Windows (no --windows-build)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--linux-build", required=True)
    parser.add_argument("--windows-build")
    parser.add_argument("--before-build",
                        help="a Linux build to set beside in benchmark 6")
    parser.add_argument("--before-windows-build",
                        help="a Windows build to set beside in benchmark 6")
    parser.add_argument("--short", action="store_true")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--work")
    parser.add_argument("--json")
    parser.add_argument("--only",
                        help="comma-separated: batch, log, respond, perfile")
    args = parser.parse_args()
    only = set(args.only.split(",")) if args.only else {
        "batch", "log", "respond", "perfile"}
    cfg = dict(SHORT if args.short else FULL)
    if args.rounds:
        cfg["rounds"] = cfg["batch_rounds"] = args.rounds
        cfg["perfile_rounds"] = cfg["wine_perfile_rounds"] = args.rounds
    args.linux_build = os.path.abspath(args.linux_build)
    args.work = os.path.abspath(
        args.work or os.path.join(args.linux_build, "bench-work"))
    os.makedirs(args.work, exist_ok=True)

    results = {"machine": machine(), "rounds": cfg["rounds"],
               "batch_rounds": cfg["batch_rounds"],
               "perfile_rounds": cfg["perfile_rounds"],
               "short": args.short, "log": {}, "respond": {}, "skipped": []}
    try:
        with contextlib.ExitStack() as cleanup:
            env = cleanup.enter_context(display.private())
            run_groups(args, cfg, only, env, cleanup, results)
    except (BenchError, subprocess.SubprocessError, OSError) as e:
        print("benchmark failed: %s" % e, file=sys.stderr)
        return 1

    print_table(results, args.short)
    path = args.json or os.path.join(args.work, "results.json")
    with open(path, "w") as f:
        json.dump(results, f, indent=1)
    print("\nAll figures: %s" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
