#!/usr/bin/env python3
"""Runs end-to-end scenarios against the real program under Wine.

  run_e2e.py --list
  run_e2e.py --program EXE --probe PROBE --simulator SIM --work-dir DIR NAME...

Scenarios live in scenarios_*.py next to this file. Exit code 0 when every
named scenario passed, 1 when one failed, 77 (skip) when the program, probe
or simulator has not been built.
"""

import argparse
import glob
import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

sys.dont_write_bytecode = True
import kav_e2e  # noqa: E402


def load_scenarios():
    for path in sorted(glob.glob(os.path.join(HERE, "scenarios_*.py"))):
        importlib.import_module(os.path.splitext(os.path.basename(path))[0])
    return kav_e2e.SCENARIOS


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--list", action="store_true", help="print 'name timeout' per scenario")
    ap.add_argument("--program")
    ap.add_argument("--probe")
    ap.add_argument("--simulator")
    ap.add_argument("--work-dir")
    ap.add_argument("names", nargs="*")
    a = ap.parse_args()
    scenarios = load_scenarios()
    if a.list:
        for name, (_, timeout) in scenarios.items():
            print(name, timeout)
        return 0
    missing = [p for p in (a.program, a.probe, a.simulator) if not p or not os.path.exists(p)]
    if missing:
        print("skipped: not built: %s" % ", ".join(str(m) for m in missing))
        return kav_e2e.SKIP
    names = a.names or list(scenarios)
    unknown = [n for n in names if n not in scenarios]
    if unknown:
        print("unknown scenario(s): %s" % ", ".join(unknown))
        return 2
    paths = kav_e2e.Paths(os.path.abspath(a.program), os.path.abspath(a.probe), os.path.abspath(a.simulator),
                          os.path.abspath(a.work_dir or os.path.join(os.getcwd(), "e2e")))
    failed = [n for n in names if not kav_e2e.run_scenario(paths, n)]
    print("%d passed, %d failed%s" % (len(names) - len(failed), len(failed),
                                      (": " + ", ".join(failed)) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
