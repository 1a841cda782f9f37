#!/usr/bin/env python3
"""Soak benchmark of the program following the switcher's adapter (not a
test: it prints figures and writes them to <work-dir>/bench/bench_pnp.json).

  bench_pnp.py --program EXE --probe PROBE --simulator SIM --work-dir DIR [--cycles 100] [--idle 60]

Each cycle: the simulator vanishes and the removal is broadcast; it comes
back with another input and blackout state and the arrival is broadcast;
the probe watches the input label until it shows the new input; then one
hot key is pressed and its frame awaited on the wire.

Figures:
  * cycles whose labels came back (the new input and blackout shown);
  * presses after the return whose frame reached the simulator;
  * arrival to labels: from the probe's broadcast of the arrival to the
    input label showing the new input (median, p95, max);
  * the program's handles, GDI and USER objects, threads and memory
    (Windows' and Linux's view) at the start and at the end;
  * for comparison, how the program's memory moves while it only sits
    there with the port open, over --idle seconds before the cycles.
"""

import argparse
import json
import os
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import kav_e2e as k  # noqa: E402
from bench_program import linux_memory, summary, write_results  # noqa: E402
from scenarios_program import DEFAULT_SETTINGS  # noqa: E402
from scenarios_pnp import SEL_CHANNEL_LABEL_ID, broadcast, watch_label  # noqa: E402

LABEL_TIMEOUT_MS = 5000
GAP = 1.25  # a hot key needs the previous accepted press's 1000 ms to be over


def resources(s, pid):
    """Windows' counts (Wine answers 0 for the handle count and GDI/USER
    objects; its server's handle list stands in for the first), and the
    Linux process's threads, file descriptors and memory."""
    w = s.probe("mem", "--exe", k.PROGRAM_EXE_NAME)
    with open("/proc/%d/status" % pid) as f:
        threads = int(next(line.split()[1] for line in f if line.startswith("Threads:")))
    return {"handles": w.get("handles"), "system_handles": w.get("systemHandles"), "gdi_objects": w.get("gdiObjects"),
            "user_objects": w.get("userObjects"), "working_set": w.get("workingSet"),
            "private_usage": w.get("privateUsage"), "linux_threads": threads,
            "linux_fds": len(os.listdir("/proc/%d/fd" % pid)), "linux": linux_memory(pid)}


def one_cycle(s, i, state, last_press):
    """Returns (labels came back, arrival-to-label ms or None, press reached the wire, time of the press)."""
    s.sim.control("vanish")
    broadcast(s, "port-removal", "COM5")
    new_input = state["input"] % 8 + 1  # always another input than the one shown
    new_blackout = 1 - state["blackout"]
    s.sim.control("set input %d" % new_input)
    s.sim.control("set blackout %d" % new_blackout)
    s.sim.control("return")

    for attempt in range(3):
        # A Wine process start can fail on a loaded machine; that is not the program's doing.
        try:
            watcher = watch_label(s, SEL_CHANNEL_LABEL_ID, str(state["input"]), LABEL_TIMEOUT_MS)
            break
        except k.Failure as e:
            k.log("cycle %d: %s" % (i + 1, e))
            if attempt == 2:
                raise
    sent = broadcast(s, "port-arrival", "COM5")["sent"]
    changed = json.loads(watcher.stdout.readline())
    watcher.wait(15)
    back = "changed" in changed and changed["text"] == str(new_input)
    latency = (changed["changed"] - sent) * 1000.0 if back else None
    if back:
        try:
            s.wait_labels({"blackout": "ON" if new_blackout else "OFF", "input": str(new_input)}, 5)
        except k.Failure as e:
            k.log("cycle %d: %s" % (i + 1, e))
            back = False
    state["input"], state["blackout"] = new_input, new_blackout

    # A hot key for another input than the one shown now.
    target = new_input % 8 + 1
    delay = last_press + GAP - time.time()
    if delay > 0:
        time.sleep(delay)
    before = len(s.sim.frames())
    pressed = s.key("F%d" % target)
    try:
        s.wait_frames(["S%d" % target], 5, since=before)
        on_wire = True
        s.wait_labels({"input": str(target)}, 5)
        state["input"] = target
    except k.Failure as e:
        k.log("cycle %d: %s" % (i + 1, e))
        on_wire = False
        state["input"] = int(s.labels().get("input", state["input"]))
    k.log("cycle %d: labels %s (%s ms), press %s" % (i + 1, "back" if back else "NOT back",
                                                     "%.0f" % latency if latency is not None else "-",
                                                     "on the wire" if on_wire else "LOST"))
    return back, latency, on_wire, pressed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--simulator", required=True)
    ap.add_argument("--work-dir", required=True)
    ap.add_argument("--cycles", type=int, default=100)
    ap.add_argument("--idle", type=float, default=60.0)
    a = ap.parse_args()
    paths = k.Paths(os.path.abspath(a.program), os.path.abspath(a.probe), os.path.abspath(a.simulator),
                    os.path.abspath(a.work_dir))
    results = {"cycles": a.cycles}
    s = k.Session(paths, "bench_pnp")
    try:
        s.start_desktop()
        s.start_simulator(5, ("--power", "1", "--blackout", "0", "--input", "1"))
        s.write_ini(hotkey=dict(DEFAULT_SETTINGS))
        prog = s.start_program()
        k.wait_for(lambda: "起動" in s.log_texts(), 30, "the log line 起動")
        s.wait_frames(["C"], 10)
        s.wait_labels({"hotkey": "有効", "input": "1"})
        time.sleep(2.0)
        idle_from = linux_memory(prog.pid)["anonymous_kib"]
        time.sleep(a.idle)
        idle_growth = linux_memory(prog.pid)["anonymous_kib"] - idle_from
        results["idle_control"] = {"seconds": a.idle, "anonymous_kib_growth": idle_growth,
                                   "kib_per_s": round(idle_growth / a.idle, 1) if a.idle else None}
        results["start"] = resources(s, prog.pid)
        cycles_from = time.monotonic()
        state = {"input": 1, "blackout": 0}
        back = on_wire = 0
        latencies = []
        last_press = 0.0
        for i in range(a.cycles):
            b, lat, w, last_press = one_cycle(s, i, state, last_press)
            back += b
            on_wire += w
            if lat is not None:
                latencies.append(lat)
        results["cycles_seconds"] = round(time.monotonic() - cycles_from, 1)
        time.sleep(2.0)
        results["end"] = resources(s, prog.pid)
        results["labels_back"] = back
        results["presses_on_wire"] = on_wire
        results["arrival_to_labels"] = summary(latencies) if latencies else None
        results["boxes_at_end"] = s.message_boxes()
        results["log_lines"] = s.log_texts()
        s.screenshot("bench_pnp")
    finally:
        s.close()
    write_results(paths.work_root, "bench_pnp.json", results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
