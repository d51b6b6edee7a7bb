"""What the differential checks share: running the program on a job, and
keeping count of what was compared and what differed."""
import collections
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jobs  # noqa: E402
from jobs import ENCODING  # noqa: E402,F401

ENV = dict(os.environ, NUV_RAZADEDEZUZEV_SYNC="0", NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION="0", LC_ALL="C.UTF-8")


def run_job(program, mode, job_path, lines):
    """Writes the job, runs the mode on it: (exit code, result lines, error text)."""
    code, out, err = jobs.run_job(program, mode, job_path, lines, env=ENV)
    return code, out.split("\n")[:-1], err


def uuid_of(n):
    return "%08x-0000-4000-8000-%012x" % (0x9b000000 + n, n)


def md5sums(paths, cwd):
    """md5sum's digests of the files (relative to cwd), by name."""
    sums = {}
    for start in range(0, len(paths), 2000):
        text = subprocess.run(["md5sum", "--"] + paths[start:start + 2000], cwd=cwd, check=True,
                              capture_output=True, **ENCODING).stdout
        for line in text.splitlines():
            digest, name = line.split("  ", 1)
            sums[name] = digest
    return sums


class Tally:
    """Counts, differences (each printed as found) and documented differences."""

    def __init__(self, label):
        self.label = label
        self.counts = collections.Counter()
        self.differences = 0
        self.documented = collections.Counter()
        self.examples = {}

    def differ(self, where, what):
        self.differences += 1
        if self.differences <= 200:
            print("DIFFERENCE %s: %s" % (where[:200], what[:400]), flush=True)

    def document(self, reason, where):
        self.documented[reason] += 1
        self.examples.setdefault(reason, where)

    def report(self, summary):
        for reason, count in sorted(self.documented.items()):
            print("documented (%d, first %s): %s" % (count, self.examples[reason][:200], reason))
        print("%s: %s, %d differences" % (self.label, summary, self.differences), flush=True)
        return self.differences == 0
