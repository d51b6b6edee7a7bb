"""One way for the harnesses (cost guards, differential checks, shared store)
to write a job, run a mode on it and read what the run left beside it."""
import os
import subprocess

ENCODING = dict(encoding="utf-8", errors="surrogateescape")  # bytes not UTF-8 pass through


def write_job(path, lines):
    """One line per item: a text as it stands, or fields joined by tabs."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "w", newline="\n", **ENCODING) as job:
        job.writelines((line if isinstance(line, str) else "\t".join(line)) + "\n" for line in lines)
    return path


def start(program, mode, job, prefix=(), env=None):
    for stale in (job + ".out", job + ".err"):
        if os.path.exists(stale):
            os.remove(stale)
    return subprocess.Popen([*prefix, program, mode, job], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, env=env)


def read_text(path):
    if not os.path.exists(path):
        return ""
    with open(path, newline="", **ENCODING) as file:
        return file.read()


def outcome(process):
    """Waits for a run: (exit code, result file, error file), "" for one not written."""
    code, job = process.wait(), process.args[-1]
    return code, read_text(job + ".out"), read_text(job + ".err")


def run_job(program, mode, job, lines, **options):
    return outcome(start(program, mode, write_job(job, lines), **options))
