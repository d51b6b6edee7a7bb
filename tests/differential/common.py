"""What the differential checks share: running a mode on a job, making a tree, md5sum's digests, and a tally
of what was compared and what differed."""
import collections
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import jobs  # noqa: E402
from jobs import ENCODING, number_of, uuid_of  # noqa: E402,F401

ENV = dict(os.environ, NUV_RAZADEDEZUZEV_SYNC="0", NUV_RAZADEDEZUZEV_GET_MAX_RETRY_DURATION="0", LC_ALL="C.UTF-8")


def run(program, mode, job, parameters, records=()):
    """Runs the mode on a job of these parameters and records: (exit code, result rows, error text)."""
    code, out, err = jobs.run_job(program, mode, job, jobs.job_lines(mode, parameters, records), env=ENV)
    return code, jobs.result_rows(out), err


def make_tree(top, entries):
    """Makes below top, by relative path (text or bytes), files (their bytes), links (a target) and FIFOs (None)."""
    for name, content in entries.items():
        path = os.path.join(os.fsencode(top), os.fsencode(name))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if content is None:
            os.mkfifo(path)
        elif isinstance(content, str):
            os.symlink(content, path)
        else:
            with open(path, "wb") as f:
                f.write(content)


def md5sums(paths, cwd):
    """md5sum's digests of the files (relative to cwd), by name."""
    text = subprocess.run(["xargs", "-0r", "md5sum", "--"], input="\0".join(paths), cwd=cwd, check=True,
                          capture_output=True, **ENCODING).stdout
    return dict(reversed(line.split("  ", 1)) for line in text.splitlines())


class Tally:
    """Counts, differences (printed as found, the first 200) and documented differences by kind."""

    def __init__(self, label):
        self.label, self.differences, self.counts, self.documented = label, 0, collections.Counter(), {}

    def differ(self, where, what):
        self.differences += 1
        if self.differences <= 200:
            print("DIFFERENCE %s: %s" % (where[:200], what[:400]), flush=True)

    def document(self, reason, where):
        self.documented.setdefault(reason, [0, where])[0] += 1

    def report(self, summary):
        """Prints the counts the summary (a format over the counts) leaves out, the documented differences,
        then the summary; True when nothing differed."""
        for key in sorted(key for key in self.counts if "%%(%s)" % key not in summary):
            print("%s: %d" % (key, self.counts[key]))
        for reason, (count, first) in sorted(self.documented.items()):
            print("documented (%d, first %s): %s" % (count, first[:200], reason))
        print("%s: %s, %d differences" % (self.label, summary % self.counts, self.differences), flush=True)
        return self.differences == 0
