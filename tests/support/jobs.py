"""One way for the harnesses (cost guards, differential checks, shared store)
to write a job, run a mode on it and read what the run left beside it."""
import os
import subprocess

ENCODING = dict(encoding="utf-8", errors="surrogateescape")  # bytes not UTF-8 pass through

def _modes():
    """{word: (failure line, columns of a record)} from the table the C++ suite reads too."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "modes.tsv"), encoding="utf-8") as table:
        rows = [line.rstrip("\n").split("\t") for line in table if not line.startswith("#")]
    return {row[0]: (row[1] + "\n", tuple(row[2].split()) if len(row) > 2 else ()) for row in rows}


MODES = _modes()
COLUMNS = {word: columns for word, (_, columns) in MODES.items()}


def stored_path(root, uuid, storage_type):
    """Where the store keeps a uuid: three levels of two characters for
    storage type 3, two otherwise."""
    levels = 3 if str(storage_type) == "3" else 2
    return os.path.join(root, *[uuid[2 * i:2 * i + 2] for i in range(levels)], uuid)


def read_job(path):
    """(parameters as a dict, records as lists of their fields after "file"); the mode is not known here."""
    parameters, records = {}, []
    with open(path, newline="\n", **ENCODING) as job:
        for line in job:
            fields = line.rstrip("\r\n").split("\t")
            if fields[0] == "file":
                records.append(fields[1:])
            elif len(fields) == 2:
                parameters[fields[0]] = fields[1]
    return parameters, records


def destinations(mode, path):
    """The file each record of a writing mode's job writes, in record order."""
    parameters, records = read_job(path)
    columns = COLUMNS[mode]
    places = []
    for fields in records:
        record = dict(zip(columns, fields))
        if "private_resource_dir_path" in record and mode != "batch_copy_from_resource_store":
            places.append(stored_path(record["private_resource_dir_path"], record["uuid"], record["storage_type"]))
        else:
            places.append(os.path.join(parameters["output_base_dir_path"], record["file_name"]))
    return places


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


def uuid_of(n, spread=False):
    """Record n's uuid; number_of(uuid) gives n back, as result lines name their records by
    uuid. Spread, its first characters (which name the store's directories) vary from one
    record to the next, as random uuids' do; else the uuids of the first 65,536 records
    all lie in one directory, where a count must not depend on how they spread."""
    first = (n * 2654435761) & 0xFFFFFFFF if spread else n & 0xFFFFFFFF
    return "%08x-0000-4000-8000-%012x" % (first, n)


def number_of(uuid):
    return int(uuid.rsplit("-", 1)[1], 16)


def job_lines(mode, parameters, records=()):
    """A job's lines for write_job: its parameters (a dict; None left out), then a line per
    record, each a dict by the mode's COLUMNS (a column missing from one is a KeyError)."""
    yield from ((key, value) for key, value in parameters.items() if value is not None)
    for record in records:
        yield ("file", *(str(record[column]) for column in COLUMNS[mode]))


def write_kept_job(path, lines):
    """write_job once: a job already there is kept, and one is there whole or not at all."""
    if not os.path.exists(path):
        os.replace(write_job(path + ".part", lines), path)
    return path


def result_rows(text):
    """A result file's lines, each split into its fields."""
    return [line.split("\t") for line in text.split("\n")[:-1]]
