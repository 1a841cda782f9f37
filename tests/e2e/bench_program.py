#!/usr/bin/env python3
"""Benchmarks of the resident program under Wine (not a test: it prints
figures and writes them to <work-dir>/bench/bench.json).

  bench_program.py [--build DIR] [--program EXE --probe PROBE --simulator SIM
                   --work-dir DIR] [--win32-program EXE32] [--baseline BASELINE_EXE]
                   [--presses 30] [--replies 15] [--idle 30] [--requests 100]

Without --program it measures the build that ships where this machine runs
32-bit Windows programs, and the 64-bit twin otherwise, as the tests decide
(KAV_WIN_BUILD forces one), taking the program, probe, baseline, simulator
and work folder from the build folder (--build, default $KAV_BUILD_DIR or
build/). The figures say which build and machine they came from.

The program runs as a stripped copy, as it would be shipped (debug sections
that Wine reads into memory would swell the memory figures).

Figures:
  * hot key to frame on the wire: from the key-down sent to the X server to
    the simulator's time stamp of the complete frame (median, p95, max);
  * reply to label: from the simulator sending an unsolicited report to the
    probe, polling the label every millisecond, seeing the new text;
  * idle: context switches (wake-ups) per second and CPU time of the program's
    process over an idle period, per thread;
  * memory when resident: Windows' view (working set, private usage) and
    Linux's (anonymous and private resident pages), next to the minimal tray
    program resident;
  * executable sizes (as built, stripped) and the DLLs it imports;
  * start-up to tray icon: from the program's first DLL load to its
    Shell_NotifyIcon(NIM_ADD) (Wine trace time stamps), next to the same
    figure of a minimal tray program (tools/win/bench_startup_baseline),
    whose cost is Wine's own;
  * the network remote on loopback (--requests 0 leaves it off, as shipped):
    HTTP request (a new connection each) to frame on the wire and to answer;
    idle figures of its thread, also with one GET /api/events open.
"""

import argparse
import http.client
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import kav_e2e as k  # noqa: E402
from scenarios_http import free_port  # noqa: E402
from scenarios_program import DEFAULT_SETTINGS  # noqa: E402


STRIP = {"win32": "i686-w64-mingw32-strip", "win64": "x86_64-w64-mingw32-strip"}


def machine_facts():
    """Where the figures come from: CPU, cores, load, Wine."""
    facts = {"cores": os.cpu_count(), "load_average": [round(x, 2) for x in os.getloadavg()]}
    try:
        with open("/proc/cpuinfo") as f:
            facts["cpu"] = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    except OSError:
        pass
    return facts


def pct(values, p):
    values = sorted(values)
    if not values:
        return float("nan")
    i = min(len(values) - 1, max(0, int(round(p / 100.0 * (len(values) - 1)))))
    return values[i]


def summary(ms):
    return {"n": len(ms), "median_ms": round(statistics.median(ms), 2), "p95_ms": round(pct(ms, 95), 2),
            "max_ms": round(max(ms), 2), "min_ms": round(min(ms), 2)}


def proc_counters(pid):
    """CPU ticks and context switches per thread of a Linux process."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                st = dict(line.split(":", 1) for line in f if ":" in line)
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                name = f.read().strip()
            out[int(tid)] = {
                "name": name,
                "cpu": int(fields[11]) + int(fields[12]),
                "switches": int(st["voluntary_ctxt_switches"]) + int(st["nonvoluntary_ctxt_switches"]),
            }
        except (OSError, IndexError, KeyError, ValueError):
            pass
    return out


def linux_memory(pid):
    with open("/proc/%d/smaps_rollup" % pid) as f:
        d = {}
        for line in f:
            m = re.match(r"(\w+):\s+(\d+) kB", line)
            if m:
                d[m.group(1)] = int(m.group(2))
    # Anonymous pages are what Windows counts as private bytes; file pages
    # mapped by this process alone (fonts, DLLs) show as private too.
    return {"rss_kib": d.get("Rss", 0), "anonymous_kib": d.get("Anonymous", 0),
            "private_kib": d.get("Private_Clean", 0) + d.get("Private_Dirty", 0)}


def file_sizes(path, strip_tool):
    out = {"path": path, "bytes": os.path.getsize(path)}
    stripped = path + ".stripped"
    try:
        subprocess.run([strip_tool, "-o", stripped, path], check=True, capture_output=True)
        out["stripped_bytes"] = os.path.getsize(stripped)
    except (OSError, subprocess.CalledProcessError):
        pass
    finally:
        if os.path.exists(stripped):
            os.remove(stripped)
    objdump = strip_tool.replace("strip", "objdump")
    try:
        dump = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
        out["imports"] = sorted(set(re.findall(r"DLL Name: (\S+)", dump)))
    except (OSError, subprocess.CalledProcessError):
        pass
    return out


def trace_time(line):
    m = re.match(r"^\s*(\d+\.\d+):", line)
    return float(m.group(1)) if m else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("KAV_BUILD_DIR", os.path.join(k.ROOT, "build")))
    ap.add_argument("--program")
    ap.add_argument("--probe")
    ap.add_argument("--simulator")
    ap.add_argument("--work-dir")
    ap.add_argument("--win32-program")
    ap.add_argument("--baseline")
    ap.add_argument("--presses", type=int, default=30)
    ap.add_argument("--replies", type=int, default=15)
    ap.add_argument("--idle", type=float, default=30.0)
    ap.add_argument("--requests", type=int, default=100)
    a = ap.parse_args()
    results = {"machine": machine_facts()}
    if not a.program:
        b = os.path.abspath(a.build)
        build, why = k.choose_windows_build()
        results["machine"]["build_choice"] = why
        a.program = os.path.join(b, build, k.PROGRAM_EXE_NAME)
        a.probe = a.probe or os.path.join(b, build, "tools", "win", "probe", "kav_probe.exe")
        a.baseline = a.baseline or os.path.join(b, build, "tools", "win", "bench_startup_baseline",
                                                "kav_bench_startup_baseline.exe")
        a.simulator = a.simulator or os.path.join(b, "native", "tools", "simulator", "av90r_sim")
        a.work_dir = a.work_dir or os.path.join(b, build)
        a.win32_program = a.win32_program or os.path.join(b, "win32", k.PROGRAM_EXE_NAME)
    if not (a.probe and a.simulator and a.work_dir):
        ap.error("--program needs --probe, --simulator and --work-dir")
    arch = k.exe_arch(a.program)
    results["machine"]["program"] = "%s (%s)" % (a.program, "i686" if arch == "win32" else "x86_64")
    results["machine"]["wine"] = k._wine_version(k.wine_for(a.program)[0])
    bin_dir = os.path.join(os.path.abspath(a.work_dir), "bench-bin")
    os.makedirs(bin_dir, exist_ok=True)
    program = os.path.join(bin_dir, os.path.basename(a.program))
    subprocess.run([STRIP[arch], "-o", program, a.program], check=True)
    paths = k.Paths(program, os.path.abspath(a.probe), os.path.abspath(a.simulator), os.path.abspath(a.work_dir))
    s = k.Session(paths, "bench")
    try:
        s.start_desktop()
        s.start_simulator(5, ("--power", "1", "--input", "1"))
        port = free_port()
        s.write_ini(hotkey=dict(DEFAULT_SETTINGS), extra="[Remote]\r\nHttpPort=%d\r\n" % port if a.requests else "")
        prog = s.start_program(env={"WINEDEBUG": "+timestamp,+pid,+loaddll,+systray"})
        k.wait_for(lambda: "起動" in s.log_texts(), 30, "the log line 起動")
        s.wait_frames(["C"], 10)
        s.wait_labels({"hotkey": "有効", "input": "1"})
        results["startup"] = startup_figures(os.path.join(s.work, "program.err"))
        if a.baseline:
            results["startup"]["baseline_first_dll_load_to_tray_add_ms"] = baseline_startup(s, a.baseline)

        results["hotkey_to_frame"] = wire_figures(s, a.presses, lambda n: s.key("F%d" % n), 1.15)
        if a.requests:
            answers = []
            results["http_request_to_frame"] = wire_figures(s, a.requests, lambda n: post_input(port, n, answers))
            results["http_request_to_answer"] = summary(answers)
            time.sleep(11)  # the last connection's idle time-out ends
        results["reply_to_label"] = reply_figures(s, a.replies)
        results["idle"] = idle_figures(s, prog.pid, a.idle)
        results["memory"] = memory_figures(s, prog.pid, a.baseline)
        if a.requests:
            with socket.create_connection(("127.0.0.1", port), timeout=30) as stream:
                stream.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
                results["idle_one_event_stream"] = idle_figures(s, prog.pid, a.idle)
        s.screenshot("bench")
    finally:
        s.close()
    results["size"] = {arch: file_sizes(os.path.abspath(a.program), STRIP[arch])}
    if arch != "win32" and a.win32_program and os.path.exists(a.win32_program):
        results["size"]["win32"] = file_sizes(os.path.abspath(a.win32_program), STRIP["win32"])
    write_results(paths.work_root, "bench.json", results)
    return 0


def write_results(work_root, name, results):
    """Prints the figures and writes them to <work_root>/bench/<name>."""
    out_dir = os.path.join(work_root, "bench")
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, name)
    with open(path, "w") as f:
        json.dump(results, f, indent=2, ensure_ascii=False)
    print(json.dumps(results, indent=2, ensure_ascii=False))
    print("written to %s" % path)


def startup_figures(err_path):
    err = open(err_path, encoding="utf-8", errors="replace").read().splitlines()
    load = next((trace_time(line) for line in err if "loaddll" in line and trace_time(line) is not None), None)
    add = next((trace_time(line) for line in err if "Shell_NotifyIcon" in line and "dwMessage = 0" in line), None)
    out = {}
    if load is not None and add is not None:
        out["first_dll_load_to_tray_add_ms"] = round((add - load) * 1000, 1)
    return out


def baseline_startup(s, exe):
    """The same figure for a minimal tray program, the median of three runs."""
    figures = []
    for i in range(3):
        err_path = os.path.join(s.work, "baseline-%d.err" % i)
        with open(err_path, "w") as err:
            subprocess.run([s.wine, exe], env=dict(s.env, WINEDEBUG="+timestamp,+pid,+loaddll,+systray"),
                           stdout=subprocess.DEVNULL, stderr=err, timeout=60)
        f = startup_figures(err_path).get("first_dll_load_to_tray_add_ms")
        if f is not None:
            figures.append(f)
    return statistics.median(figures) if figures else None


def wire_figures(s, count, send, gap=0.0):
    """send(n) selects input n and returns when it began; from then to the
    frame S<n> on the wire. n runs 2..8, 1, 2 ... (input 1 is selected at start)."""
    lat = []
    for i in range(count):
        n = (i + 1) % 8 + 1
        before = len(s.sim.frames())
        t0 = send(n)
        lat.append((s.wait_frames(["S%d" % n], 5, since=before)[0][0] - t0) * 1000.0)
        time.sleep(max(0.0, t0 + gap - time.time()))
    return summary(lat)


def post_input(port, n, answers):
    """POST /api/input/n on a new connection; the time to its answer goes to answers."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    t0 = time.time()
    c.request("POST", "/api/input/%d" % n)
    r = c.getresponse()
    r.read()
    answers.append((time.time() - t0) * 1000.0)
    c.close()
    k.check_eq(r.status, 200, "POST /api/input/%d" % n)
    return t0


def reply_figures(s, replies):
    lat = []
    for i in range(replies):
        win = s.main_window()
        label = s.value_label(win, "input")
        current = label["text"]
        new = "7" if current != "7" else "2"
        watcher = subprocess.Popen([s.wine, s.paths.probe, "watch", "--hwnd", str(win["hwnd"]), "--id",
                                    str(label["id"]), "--text", current, "--timeout", "5000"],
                                   env=s.env, stdout=subprocess.PIPE, text=True)
        ready = json.loads(watcher.stdout.readline())
        assert "ready" in ready, ready
        sent = float(s.sim.control("report s%s" % new).split()[0])
        changed = json.loads(watcher.stdout.readline())
        watcher.wait(10)
        if "changed" not in changed or changed["text"] != new:
            raise k.Failure("label did not change to %s: %r" % (new, changed))
        lat.append((changed["changed"] - sent) * 1000.0)
        time.sleep(0.2)
    return summary(lat)


def idle_figures(s, pid, seconds):
    time.sleep(2.0)  # let the last hot key's suppression window end
    before = proc_counters(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    after = proc_counters(pid)
    span = time.monotonic() - t0
    hz = os.sysconf("SC_CLK_TCK")
    threads = {}
    for tid, a in after.items():
        b = before.get(tid, {"cpu": 0, "switches": 0})
        threads[str(tid)] = {"name": a["name"], "wakeups_per_s": round((a["switches"] - b["switches"]) / span, 2),
                             "cpu_ms": round((a["cpu"] - b["cpu"]) * 1000.0 / hz, 1)}
    main = threads.get(str(pid), {})
    return {"seconds": round(span, 1), "ui_thread": main,
            "http_thread": next((t for t in threads.values() if t["name"].startswith("kav-http")), None),
            "all_threads_wakeups_per_s": round(sum(t["wakeups_per_s"] for t in threads.values()), 2),
            "all_threads_cpu_ms": round(sum(t["cpu_ms"] for t in threads.values()), 1), "threads": threads}


def memory_figures(s, pid, baseline):
    out = {"program": {"windows": s.probe("mem", "--exe", k.PROGRAM_EXE_NAME), "linux": linux_memory(pid)}}
    if not baseline:
        return out
    # The minimal tray program, resident, for what Wine itself takes.
    base = subprocess.Popen([s.wine, baseline, "stay"], env=s.env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    name = os.path.basename(baseline)
    try:
        k.wait_for(lambda: s.probe_json("mem", "--exe", name, quiet=True), 20, "the baseline program")
        time.sleep(2.0)
        out["baseline"] = {"windows": s.probe("mem", "--exe", name), "linux": linux_memory(base.pid)}
    except k.Failure:
        pass
    finally:
        base.kill()
        base.wait()
    return out


if __name__ == "__main__":
    sys.exit(main())
