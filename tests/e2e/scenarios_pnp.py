"""Scenarios of the program following the switcher's adapter: unplugged and
plugged in again, announced by Windows' device broadcasts, the status window
tells the truth again without a key press."""

import json
import subprocess

from kav_e2e import MAIN_WINDOW_CLASS, Failure, check, check_eq, holds_for, log, scenario
from scenarios_program import Presser, boot

# Control id of the input value label (lblSelChannelStat, see app/win/frmMain.h).
SEL_CHANNEL_LABEL_ID = 108


def watch_label(s, label_id, text, timeout_ms=10000):
    """Starts the probe polling a label of the status window every
    millisecond; returns the process once it is watching."""
    watcher = subprocess.Popen([s.wine, s.paths.probe, "watch", "--class", MAIN_WINDOW_CLASS, "--id", str(label_id),
                                "--text", text, "--timeout", str(timeout_ms)],
                               env=s.env, stdout=subprocess.PIPE, text=True)
    line = watcher.stdout.readline()
    try:
        ready = json.loads(line)
    except ValueError:
        watcher.kill()
        watcher.wait()
        raise Failure("the label watcher ended (%s) without starting: %r" % (watcher.returncode, line))
    check("ready" in ready, "the label watcher did not start: %r" % ready)
    return watcher


def broadcast(s, event, port=None):
    args = ["broadcast", "--event", event] + (["--port", port] if port else [])
    return s.probe(*args)


@scenario(timeout=180)
def adapter_unplugged_and_plugged_in_again(s):
    """The switcher's adapter goes (the removal is broadcast) and comes back
    with the switcher in another state (the arrival is broadcast): within
    2 s the labels show the new state, with no key pressed and exactly one
    status request; the next hot key sends its frame alone."""
    boot(s, {}, sim_args=("--power", "1", "--blackout", "1", "--input", "5"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"power": "ON", "blackout": "ON", "input": "5"})
    log_before = s.log_texts()

    s.sim.control("vanish")
    broadcast(s, "port-removal", "COM5")
    holds_for(lambda: not s.message_boxes(), 1.0, "no box after the adapter went")

    # Back, switched by hand meanwhile: blackout off, input 4.
    s.sim.control("set blackout 0")
    s.sim.control("set input 4")
    s.sim.control("return")
    since = len(s.sim.frames())
    watcher = watch_label(s, SEL_CHANNEL_LABEL_ID, "5")
    sent = broadcast(s, "port-arrival", "COM5")["sent"]
    changed = json.loads(watcher.stdout.readline())
    watcher.wait(15)
    check("changed" in changed, "the input label did not change after the arrival: %r" % changed)
    log("arrival to labels: %.0f ms" % ((changed["changed"] - sent) * 1000))
    check(changed["changed"] - sent <= 2.0, "labels came back %.1f s after the arrival, not within 2 s"
          % (changed["changed"] - sent))
    s.wait_labels({"power": "ON", "blackout": "OFF", "input": "4"})
    s.screenshot("returned")
    holds_for(lambda: s.sim.frame_texts()[since:] == ["C"], 1.0, "one status request after the arrival")
    check(not s.message_boxes(), "unexpected box: %r" % s.message_boxes())

    # The channel is open on the returned port: F2 sends S2, nothing else.
    pr = Presser(s)
    pr.press("F2")
    s.wait_frames(["C", "S2"], 5, since=since)
    s.wait_labels({"input": "2"})
    holds_for(lambda: s.sim.frame_texts()[since:] == ["C", "S2"], 1.0, "F2 sent S2 alone")
    check_eq(s.log_texts(), log_before, "log lines after the device events")
