"""What the numbers were measured on: processor, versions, BLAS threading and the git commit."""

import datetime
import importlib.metadata
import os
import platform
import subprocess
import time
from pathlib import Path

# Variables that change how many threads a BLAS uses or which kernels it picks.
BLAS_ENV = ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS", "GOTO_NUM_THREADS",
            "OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")
PACKAGES = ("quorvel", "numpy", "scipy", "pybaselines", "pentapy", "matplotlib", "threadpoolctl")


def cpu_model():
    """The model name, family and model numbers and the widest vector extensions /proc/cpuinfo lists."""
    fields = {}
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            key, _, value = line.partition(":")
            fields.setdefault(key.strip(), value.strip())
    except OSError:
        return platform.processor() or "unknown"
    flags = set(fields.get("flags", "").split())
    vector = [f for f in ("avx2", "fma", "avx512f") if f in flags]
    details = [f"family {fields['cpu family']}, model {fields['model']}"] if "cpu family" in fields else []
    if vector:
        details.append(" ".join(vector))
    name = fields.get("model name", platform.processor() or "unknown")
    return name + (f" ({'; '.join(details)})" if details else "")


def memory_gib():
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) / 2**20
    except OSError:
        pass
    return None


def version(package):
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return None


def blas_pools():
    """One line per BLAS or OpenMP pool loaded in this process, threadpoolctl's view when installed."""
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        import numpy

        try:
            blas = numpy.show_config(mode="dicts")["Build Dependencies"]["blas"]
            return [f"numpy built against {blas.get('name')} {blas.get('version')} "
                    "(threadpoolctl not installed: thread count unknown)"]
        except Exception:
            return ["unknown (threadpoolctl not installed)"]
    lines = []
    for pool in threadpool_info():
        kernel = pool.get("architecture")
        lines.append(f"{pool.get('internal_api')} {pool.get('version')}, {pool.get('num_threads')} threads"
                     f"{', ' + pool.get('threading_layer') if pool.get('threading_layer') else ''}"
                     f"{', kernel ' + kernel if kernel else ''}: {Path(pool['filepath']).name}")
    return lines or ["none loaded"]


class OtherLoad:
    """Cores kept busy by other processes between start() and stop(): on a shared machine the
    tables mean little without it."""

    def start(self):
        self._snapshot = (_busy_seconds(), _own_seconds(), time.perf_counter())
        return self

    def stop(self):
        busy, own, wall = self._snapshot
        elapsed = time.perf_counter() - wall
        busy_now = _busy_seconds()
        if busy is None or busy_now is None or elapsed <= 0:
            return None
        return max(0.0, (busy_now - busy) - (_own_seconds() - own)) / elapsed


def _busy_seconds():
    """CPU seconds all processors spent outside idle and I/O wait since boot."""
    try:
        fields = Path("/proc/stat").read_text().splitlines()[0].split()[1:]
    except (OSError, IndexError):
        return None
    user, nice, system, idle, iowait, irq, softirq, steal = (int(v) for v in fields[:8])
    return (user + nice + system + irq + softirq + steal) / os.sysconf("SC_CLK_TCK")


def _own_seconds():
    t = os.times()
    return t.user + t.system + t.children_user + t.children_system


def load_average():
    try:
        return os.getloadavg()
    except OSError:
        return None


def build_time():
    """When the installed extension was written: the one trace of which sources it came from."""
    try:
        import quorvel._native as native

        return datetime.datetime.fromtimestamp(os.path.getmtime(native.__file__)).astimezone()
    except (ImportError, OSError, TypeError):
        return None


def git_commit(repo, before=None):
    """Short hash of HEAD, or of the last commit made before `before`."""
    try:
        if before is None:
            head = _git(repo, "rev-parse", "--short", "HEAD")
            dirty = _git(repo, "status", "--porcelain", "--untracked-files=no")
            return head + (" (work tree modified)" if dirty else "")
        return _git(repo, "log", "-1", "--format=%h", f"--before={before.isoformat()}") or "unknown"
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def _git(repo, *args):
    return subprocess.run(["git", "-C", str(repo), *args], capture_output=True, text=True,
                          check=True).stdout.strip()


def describe(repo):
    """A list of (label, value) rows for the report."""
    try:
        usable = len(os.sched_getaffinity(0))
    except AttributeError:
        usable = os.cpu_count()
    memory = memory_gib()
    rows = [
        ("CPU", cpu_model()),
        ("Cores", f"{os.cpu_count()} logical, {usable} usable by this process"),
        ("Memory", f"{memory:.1f} GiB" if memory else "unknown"),
        ("OS", platform.platform()),
        ("Python", f"{platform.python_version()} ({platform.python_implementation()})"),
    ]
    rows += [(name, version(name) or "not installed") for name in PACKAGES]
    built = build_time()
    rows.append(("quorvel commit", f"{git_commit(repo)} at run time"))
    if built:
        rows.append(("quorvel build", f"installed {built:%Y-%m-%d %H:%M %Z}, after commit "
                                      f"{git_commit(repo, before=built)}"))
    rows += [("BLAS pool", line) for line in blas_pools()]
    rows.append(("BLAS environment",
                 ", ".join(f"{k}={os.environ[k]}" if k in os.environ else f"{k} unset" for k in BLAS_ENV)))
    return rows
