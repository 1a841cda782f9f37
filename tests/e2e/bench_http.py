#!/usr/bin/env python3
"""Benchmark of the network remote under Wine (prints figures, writes
<build>/<win64|win32>/bench/bench_http.json; not a test).
  bench_http.py [--build DIR] [--requests 100] [--idle 30]
The stripped program, [Remote] HttpPort on loopback, the simulator on COM5:
HTTP request (a new connection) -> frame on the wire and -> answer; idle
wake-ups of the server thread ("kav-http") and the process, without a
client and with one event stream; the stripped sizes."""

import argparse
import http.client
import os
import socket
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import kav_e2e as k  # noqa: E402
from bench_program import STRIP, file_sizes, machine_facts, proc_counters, summary, write_results  # noqa: E402
from scenarios_http import free_port, remote_section  # noqa: E402
from scenarios_program import DEFAULT_SETTINGS  # noqa: E402


def request_figures(s, port, count):
    wire, answer = [], []
    for i in range(count):
        n = 2 + i % 7  # never the input selected before
        before = len(s.sim.frames())
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        t0 = time.time()
        c.request("POST", "/api/input/%d" % n)
        r = c.getresponse()
        r.read()
        answer.append((time.time() - t0) * 1000.0)
        c.close()
        k.check_eq(r.status, 200, "POST /api/input/%d" % n)
        frames = s.wait_frames(["S%d" % n], 10, since=before)
        wire.append((frames[0][0] - t0) * 1000.0)
    return {"request_to_frame": summary(wire), "request_to_answer": summary(answer)}


def idle_figures(pid, seconds):
    before = proc_counters(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    after = proc_counters(pid)
    span = time.monotonic() - t0
    rate = {tid: (a["switches"] - before.get(tid, {"switches": 0})["switches"]) / span for tid, a in after.items()}
    server = [tid for tid, a in after.items() if a["name"].startswith("kav-http")]
    return {"seconds": round(span, 1),
            "server_thread_wakeups_per_s": round(sum(rate[t] for t in server), 3) if server else None,
            "all_threads_wakeups_per_s": round(sum(rate.values()), 2)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("KAV_BUILD_DIR", os.path.join(k.ROOT, "build")))
    ap.add_argument("--requests", type=int, default=100)
    ap.add_argument("--idle", type=float, default=30.0)
    a = ap.parse_args()
    b = os.path.abspath(a.build)
    build, why = k.choose_windows_build()
    results = {"machine": machine_facts()}
    results["machine"]["build_choice"] = why
    source = os.path.join(b, build, k.PROGRAM_EXE_NAME)
    arch = k.exe_arch(source)
    work = os.path.join(b, build)
    bin_dir = os.path.join(work, "bench-bin")
    os.makedirs(bin_dir, exist_ok=True)
    program = os.path.join(bin_dir, k.PROGRAM_EXE_NAME)
    subprocess.run([STRIP[arch], "-o", program, source], check=True)
    paths = k.Paths(program, os.path.join(b, build, "tools", "win", "probe", "kav_probe.exe"),
                    os.path.join(b, "native", "tools", "simulator", "av90r_sim"), work)
    s = k.Session(paths, "bench-http")
    port = free_port()
    try:
        s.start_desktop()
        s.start_simulator(5, ("--power", "1", "--input", "1"))
        s.write_ini(hotkey=dict(DEFAULT_SETTINGS), extra=remote_section(port))
        prog = s.start_program()
        k.wait_for(lambda: "起動" in s.log_texts(), 30, "the log line 起動")
        s.wait_frames(["C"], 10)
        results["requests"] = request_figures(s, port, a.requests)
        time.sleep(11)  # the last connection's idle time-out ends
        results["idle_no_client"] = idle_figures(prog.pid, a.idle)
        stream = socket.create_connection(("127.0.0.1", port), timeout=30)
        stream.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
        time.sleep(1)
        results["idle_one_event_stream"] = idle_figures(prog.pid, a.idle)
        stream.close()
    finally:
        s.close()
    results["size"] = {arch: file_sizes(source, STRIP[arch])}
    other = os.path.join(b, "win32" if arch == "win64" else "win64", k.PROGRAM_EXE_NAME)
    if os.path.exists(other):
        results["size"][k.exe_arch(other)] = file_sizes(other, STRIP[k.exe_arch(other)])
    write_results(work, "bench_http.json", results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
