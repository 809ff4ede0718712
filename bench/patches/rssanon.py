#!/usr/bin/env python3
"""Runs a command and samples its anonymous memory (RssAnon of /proc/PID/status) every 5 ms.

Usage: rssanon.py COMMAND [ARG...]
Prints "rss_anon_peak_kib N" and "vm_hwm_kib N" (the peak of the whole resident set, mapped
files included, read at the last sample) on stdout; exits with the command's status. Only
the command's own process is sampled, not its children.
"""
import subprocess
import sys
import time


def status_fields(pid):
    fields = {}
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                name, _, value = line.partition(":")
                fields[name] = value.split()
    except OSError:
        pass
    return fields


def main():
    process = subprocess.Popen(sys.argv[1:])
    peak = hwm = 0
    while process.poll() is None:
        fields = status_fields(process.pid)
        if "RssAnon" in fields:
            peak = max(peak, int(fields["RssAnon"][0]))
        if "VmHWM" in fields:
            hwm = max(hwm, int(fields["VmHWM"][0]))
        time.sleep(0.005)
    print("rss_anon_peak_kib %d" % peak)
    print("vm_hwm_kib %d" % hwm)
    return process.returncode


if __name__ == "__main__":
    sys.exit(main())
