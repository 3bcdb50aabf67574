"""Mutation testing of quorvel's test suites on a fixed, seeded sample of mutants.

Mutants are single-line rewrites made by universalmutator's regular-expression rules (its C++ rules on
src/*.cpp and *.hpp, its Python rules on python/quorvel/**/*.py but _version.py). Mutants that change
only comments, docstrings or type annotations are dropped before sampling: no test of behaviour can see
them. A sample is saved as tools/mutants-core.json and tools/mutants-python.json (file, line, original
and mutated text), so the same mutants can be run again once the tests have changed; a mutated line
that edits above it have moved is found by its text, nearest to where it was.

Each core mutant is applied to a copy of the tracked tree, built incrementally (ninja, with ccache when
it is on PATH; the GoogleTest binary and both extension modules, -Werror as in CI), then run under
CTest and, if it survives, under pytest -x; a mutant that does not build is recorded as such and, once
the first run has seen 80 that build, the sample keeps only the mutants that run saw. Each Python
mutant runs under pytest -x on a pristine build. A run that exceeds three times the unmutated
suite's time (and at least two or three minutes) counts as killed, as a timeout. Both kinds run side by
side, one build at a time.

    python tools/mutation.py sample                   # once: draw the sample (seed 13)
    python tools/mutation.py run --workdir /tmp/qm --report tools/mutation-before
    python tools/mutation.py run --workdir /tmp/qm --report tools/mutation-after   # same mutants, new tests
    python tools/mutation.py report tools/mutation-before.json   # re-render after editing the notes

`sample` takes about ten minutes, `run` about an hour on two cores (less once the sample is fixed);
`run` resumes an interrupted run from the results in --workdir, and
writes REPORT.json and REPORT.md; tools/mutation-notes.json holds a verdict on each survivor (mutant
id -> text), shown in the Markdown report.
"""
from __future__ import annotations

import argparse
import ast
import concurrent.futures
import contextlib
import datetime
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterator

ROOT = Path(__file__).resolve().parent.parent
TOOLS = ROOT / "tools"
SAMPLES = {"core": TOOLS / "mutants-core.json", "python": TOOLS / "mutants-python.json"}
NOTES = TOOLS / "mutation-notes.json"
MUTATOR = "universalmutator==1.14.1"
# Comment lines and preprocessor directives give only mutants that cannot build or cannot differ.
IGNORED = {"core": [r"^\s*//", r"^\s*#"], "python": [r"^\s*#"]}
MODULES = ("_native", "_tunable")
BUILD_TIMEOUT = 1800.0
KILLED = ("killed-cpp", "timeout-cpp", "killed-python", "timeout-python")

Mutant = dict[str, Any]


def sources(kind: str) -> list[str]:
    if kind == "core":
        found = [p for p in (ROOT / "src").rglob("*") if p.suffix in (".cpp", ".hpp")]
    else:
        found = [p for p in (ROOT / "python" / "quorvel").rglob("*.py") if p.name != "_version.py"]
    return sorted(str(p.relative_to(ROOT)) for p in found)


def mutate_tool(venv: Path) -> Path:
    tool = venv / "bin" / "mutate"
    if not tool.exists():
        subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
        subprocess.run([str(venv / "bin" / "pip"), "install", "-q", MUTATOR], check=True)
    return tool


def describe(original: list[str], mutated: list[str]) -> tuple[int, str, str]:
    """First line changed (1-based), the original lines there and what replaces them."""
    head = 0
    while head < min(len(original), len(mutated)) and original[head] == mutated[head]:
        head += 1
    tail = 0
    while tail < min(len(original), len(mutated)) - head and original[-1 - tail] == mutated[-1 - tail]:
        tail += 1
    if head == len(original) - tail:  # a pure insertion: anchor it on the line before
        head -= 1
    return head + 1, "".join(original[head:len(original) - tail]), "".join(mutated[head:len(mutated) - tail])


def behaviour(text: str) -> str:
    """The module's syntax tree without docstrings and annotations, as text."""
    tree = ast.parse(text)
    for node in ast.walk(tree):
        body = getattr(node, "body", None)
        if (isinstance(body, list) and body and isinstance(body[0], ast.Expr)
                and isinstance(body[0].value, ast.Constant) and isinstance(body[0].value.value, str)):
            body[0] = ast.Pass()
        if isinstance(node, ast.arg):
            node.annotation = None
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            node.returns = None
        elif isinstance(node, ast.AnnAssign):
            node.annotation = ast.Constant(None)
    return ast.dump(tree)


def generate(tool: Path, kind: str, relpath: str) -> list[Mutant]:
    text = (ROOT / relpath).read_text()
    with tempfile.TemporaryDirectory() as tmp:
        name = Path(relpath).name
        Path(tmp, name).write_text(text)
        Path(tmp, "ignore").write_text("".join(p + "\n" for p in IGNORED[kind]))
        # Python mutants are checked by the tool: they must compile and differ in bytecode.
        check = ["--noCheck"] if kind == "core" else []
        subprocess.run([str(tool), name, "--mutantDir", "out", "--ignore", "ignore", *check],
                       cwd=tmp, check=True, capture_output=True)
        original = text.splitlines(keepends=True)
        shape = behaviour(text) if kind == "python" else ""
        found = []
        for path in sorted(Path(tmp, "out").iterdir()):
            mutated = path.read_text()
            if kind == "python" and behaviour(mutated) == shape:
                continue
            line, before, after = describe(original, mutated.splitlines(keepends=True))
            found.append({"file": relpath, "line": line, "original": before, "mutated": after})
    return found


def sample(args: argparse.Namespace) -> None:
    tool = mutate_tool(Path(args.venv))
    for kind, count in (("core", args.core), ("python", args.python)):
        everything = {(m["file"], m["line"], m["mutated"]): m for f in sources(kind) for m in generate(tool, kind, f)}
        pool = [everything[k] for k in sorted(everything)]
        random.Random(args.seed).shuffle(pool)
        # Core mutants that do not build are skipped by the first run, so it is given spares.
        drawn = pool[:count * (4 if kind == "core" else 1)]
        for number, m in enumerate(drawn, 1):
            m["id"] = f"{kind[0]}{number:03d}"
        saved = {"tool": MUTATOR, "seed": args.seed, "population": len(pool), "target": count, "mutants": drawn}
        SAMPLES[kind].write_text(json.dumps(saved, indent=1) + "\n")
        print(f"{kind}: {len(pool)} mutants, {len(drawn)} drawn into {SAMPLES[kind].relative_to(ROOT)}")


def execute(cmd: list[str], cwd: Path, env: dict[str, str] | None, timeout: float) -> tuple[str, float, str]:
    """Runs a command in its own process group: 'ok', 'failed' or 'timeout', the seconds taken, the output."""
    start = time.monotonic()
    with subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", start_new_session=True) as proc:
        try:
            out, _ = proc.communicate(timeout=timeout)
            status = "ok" if proc.returncode == 0 else "failed"
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            status = "timeout"
    return status, time.monotonic() - start, out


def first_failure(out: str) -> str:
    for pattern in (r"^FAILED (\S+)", r"^ERROR (\S+)", r"^\s*\d+ - (\S+) \(", r"^\[  FAILED  \] (\S+)"):
        found = re.search(pattern, out, re.MULTILINE)
        if found:
            return found.group(1)
    return ""


def tracked() -> list[str]:
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    return [p for p in listed.decode().split("\0") if p and (ROOT / p).is_file()]


def sync(tree: Path, files: list[str]) -> None:
    """Makes tree hold exactly the tracked files, rewriting only those that differ (ninja goes by mtime)."""
    keep = set(files)
    for path in sorted(tree.rglob("*"), reverse=True):
        rel = str(path.relative_to(tree))
        if path.is_symlink() or (path.is_file() and rel not in keep) or path.name == "__pycache__":
            shutil.rmtree(path) if path.is_dir() and not path.is_symlink() else path.unlink()
        elif path.is_dir() and not any(path.iterdir()):
            path.rmdir()
    for rel in files:
        data = (ROOT / rel).read_bytes()
        target = tree / rel
        if not target.exists() or target.read_bytes() != data:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
            shutil.copymode(ROOT / rel, target)


def located(lines: list[str], m: Mutant) -> int:
    """Where the mutant's original text starts: its recorded line, or the nearest line that holds it
    when edits above have moved it."""
    count = m["original"].count("\n")
    starts = [i for i in range(len(lines) - count + 1) if "".join(lines[i:i + count]) == m["original"]]
    if not starts:
        raise SystemExit(f"{m['id']}: {m['file']} no longer holds {m['original'].strip()!r}; draw a new sample")
    return min(starts, key=lambda i: abs(i - (m["line"] - 1)))


@contextlib.contextmanager
def applied(tree: Path, m: Mutant) -> Iterator[None]:
    path = tree / m["file"]
    text = path.read_text()
    lines = text.splitlines(keepends=True)
    start, count = located(lines, m), m["original"].count("\n")
    path.write_text("".join(lines[:start]) + m["mutated"] + "".join(lines[start + count:]))
    try:
        yield
    finally:
        path.write_text(text)


@dataclass
class Bench:
    """A copy of the tree with its build, and the commands that test it."""
    tree: Path
    build: Path | None
    python: str
    pytest_args: list[str]
    timeouts: dict[str, float] = field(default_factory=lambda: {"ctest": 3600.0, "pytest": 3600.0})

    def env(self) -> dict[str, str]:
        # CI=1 makes the property tests run a fixed sequence of examples.
        return dict(os.environ, PYTHONPATH=str(self.tree / "python"), PYTHONDONTWRITEBYTECODE="1", CI="1")

    def configure(self) -> None:
        assert self.build is not None
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
        subprocess.run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DQUORVEL_TESTS=ON", "-DQUORVEL_WERROR=ON",
                        "-DQUORVEL_PYTHON=ON", f"-DPython_EXECUTABLE={self.python}", *launcher],
                       check=True, stdout=subprocess.DEVNULL)
        for module in MODULES:
            (self.tree / "python" / "quorvel" / f"{module}.abi3.so").symlink_to(self.build / "python" / f"{module}.abi3.so")

    def compile(self) -> tuple[str, float, str]:
        assert self.build is not None
        return execute(["cmake", "--build", str(self.build)], self.tree, None, BUILD_TIMEOUT)

    def ctest(self) -> tuple[str, float, str]:
        assert self.build is not None
        return execute(["ctest", "--test-dir", str(self.build), "--stop-on-failure", "--output-on-failure"],
                       self.tree, None, self.timeouts["ctest"])

    def pytest(self) -> tuple[str, float, str]:
        cmd = [self.python, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *self.pytest_args, "tests/python"]
        return execute(cmd, self.tree, self.env(), self.timeouts["pytest"])


class Results:
    """Outcomes appended to a file named for the sample and the tests, so an interrupted run resumes."""

    def __init__(self, workdir: Path, kind: str, fingerprint: str) -> None:
        self.path = workdir / f"results-{kind}-{fingerprint}.jsonl"
        lines = self.path.read_text().splitlines() if self.path.exists() else []
        self.done: dict[str, dict[str, Any]] = {r["id"]: r for r in map(json.loads, lines)}

    def add(self, record: dict[str, Any]) -> None:
        self.done[record["id"]] = record
        with self.path.open("a") as f:
            f.write(json.dumps(record) + "\n")
        print(f"{record['id']} {record['outcome']:15} {record.get('by', '')}", flush=True)


def run_core(bench: Bench, saved: dict[str, Any], results: Results) -> None:
    built = sum(r["outcome"] != "not-built" for r in results.done.values())
    for m in saved["mutants"]:
        if m["id"] in results.done:
            continue
        if built >= saved["target"]:
            break
        record: dict[str, Any] = {"id": m["id"]}
        if m.get("builds") is False:
            results.add({**record, "outcome": "not-built"})
            continue
        with applied(bench.tree, m):
            status, seconds, _ = bench.compile()
            if status != "ok":
                results.add({**record, "outcome": "not-built", "seconds": round(seconds, 1)})
                continue
            built += 1
            record["outcome"] = "survived"
            for suite, step in (("cpp", bench.ctest), ("python", bench.pytest)):
                status, seconds, out = step()
                record[f"{suite}_seconds"] = round(seconds, 1)
                if status != "ok":
                    record.update(outcome=f"{'killed' if status == 'failed' else 'timeout'}-{suite}", by=first_failure(out))
                    break
        results.add(record)
    if any("builds" not in m for m in saved["mutants"]):  # the first run fixes the sample
        kept = [m for m in saved["mutants"] if m["id"] in results.done]
        for m in kept:
            m["builds"] = results.done[m["id"]]["outcome"] != "not-built"
        SAMPLES["core"].write_text(json.dumps({**saved, "mutants": kept}, indent=1) + "\n")
        print(f"core sample fixed to the {len(kept)} mutants seen, {built} of them built", flush=True)


def run_python(bench: Bench, saved: dict[str, Any], results: Results) -> None:
    for m in saved["mutants"]:
        if m["id"] in results.done:
            continue
        with applied(bench.tree, m):
            status, seconds, out = bench.pytest()
        outcome = {"ok": "survived", "failed": "killed-python", "timeout": "timeout-python"}[status]
        results.add({"id": m["id"], "outcome": outcome, "by": first_failure(out), "python_seconds": round(seconds, 1)})


def baseline(bench: Bench) -> dict[str, float]:
    """Builds and tests the unmutated tree; every suite must pass, and its time sets the timeouts."""
    times = {}
    for name, step in (("build", bench.compile), ("ctest", bench.ctest), ("pytest", bench.pytest)):
        status, seconds, out = step()
        if status != "ok":
            raise SystemExit(f"the unmutated tree fails its {name}:\n{out[-4000:]}")
        times[name] = round(seconds, 1)
        print(f"baseline {name}: {seconds:.0f} s", flush=True)
    return times


def fingerprint(files: list[str], pytest_args: list[str]) -> str:
    digest = hashlib.sha256(json.dumps(pytest_args).encode())
    for rel in files:
        if rel.startswith("tools/mutation-"):  # notes and reports
            continue
        digest.update(rel.encode() + b"\0" + (ROOT / rel).read_bytes())
    return digest.hexdigest()[:12]


def run(args: argparse.Namespace) -> None:
    workdir = Path(args.workdir).resolve()
    workdir.mkdir(parents=True, exist_ok=True)
    files = tracked()
    kinds = [args.only] if args.only else ["core", "python"]
    saved = {kind: json.loads(SAMPLES[kind].read_text()) for kind in kinds}
    if args.limit:  # a trial: no sample is fixed by it
        saved = {kind: {**s, "mutants": [{"builds": None, **m} for m in s["mutants"][:args.limit]]}
                 for kind, s in saved.items()}
    mark = fingerprint(files, args.pytest_arg)
    began = time.monotonic()
    core = Bench(workdir / "tree", workdir / "build", args.python, args.pytest_arg)
    sync(core.tree, files)
    os.environ.setdefault("CCACHE_DIR", str(workdir / "ccache"))
    core.configure()
    times = baseline(core)
    core.timeouts = {"ctest": max(120.0, 3 * times["ctest"]), "pytest": max(180.0, 3 * times["pytest"])}
    py = Bench(workdir / "tree-python", None, args.python, args.pytest_arg, core.timeouts)
    sync(py.tree, files)
    for module in MODULES:  # a copy: the core mutants rebuild the originals meanwhile
        shutil.copy2(workdir / "build" / "python" / f"{module}.abi3.so", py.tree / "python" / "quorvel")
    results = {kind: Results(workdir, kind, mark) for kind in kinds}
    jobs = {"core": lambda: run_core(core, saved["core"], results["core"]),
            "python": lambda: run_python(py, saved["python"], results["python"])}
    with concurrent.futures.ThreadPoolExecutor(max_workers=1 if args.serial else 2) as pool:
        for future in [pool.submit(jobs[kind]) for kind in kinds]:
            future.result()
    report = {"date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
              "commit": subprocess.run(["git", "rev-parse", "HEAD"], cwd=ROOT, capture_output=True, text=True).stdout.strip(),
              "minutes": round((time.monotonic() - began) / 60, 1), "baseline_seconds": times,
              "timeouts": core.timeouts, "pytest_args": args.pytest_arg}
    for kind in kinds:
        sample_now = json.loads(SAMPLES[kind].read_text())
        report[kind] = {"summary": summarise(list(results[kind].done.values())),
                        "mutants": [{**m, **results[kind].done[m["id"]]} for m in sample_now["mutants"]
                                    if m["id"] in results[kind].done]}
    Path(args.report + ".json").write_text(json.dumps(report, indent=1) + "\n")
    render(Path(args.report + ".json"))


def summarise(records: list[dict[str, Any]]) -> dict[str, Any]:
    counts = Counter(r["outcome"] for r in records)
    built = sum(n for outcome, n in counts.items() if outcome != "not-built")
    killed = sum(counts[o] for o in KILLED)
    return {**dict(sorted(counts.items())), "built": built, "killed": killed,
            "kill_rate": round(killed / built, 3) if built else None}


def render(path: Path) -> None:
    report = json.loads(path.read_text())
    notes = json.loads(NOTES.read_text()) if NOTES.exists() else {}
    took = ", ".join(f"{name} {seconds:.0f} s" for name, seconds in report["baseline_seconds"].items())
    limits = ", ".join(f"{name} {seconds:.0f} s" for name, seconds in report["timeouts"].items())
    out = [f"# Mutation testing, {report['date']} (commit {report['commit'][:10]})", "",
           f"{report['minutes']:.0f} minutes. Unmutated tree: {took}. Timeouts: {limits}. "
           f"Extra pytest arguments: {' '.join(report['pytest_args']) or 'none'}.", "",
           "| mutants | not built | built | killed by C++ | killed by Python | timeouts | survived | kill rate |",
           "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"]
    for kind in ("core", "python"):
        if kind in report:
            s = report[kind]["summary"]
            out.append(f"| {kind} | {s.get('not-built', 0)} | {s['built']} | {s.get('killed-cpp', 0)} | "
                       f"{s.get('killed-python', 0)} | {s.get('timeout-cpp', 0) + s.get('timeout-python', 0)} | "
                       f"{s.get('survived', 0)} | {100 * (s['kill_rate'] or 0):.1f} % |")
    for kind in ("core", "python"):
        survivors = [m for m in report.get(kind, {}).get("mutants", []) if m["outcome"] == "survived"]
        out += ["", f"## Surviving {kind} mutants ({len(survivors)})"]
        for m in survivors:
            out += ["", f"{m['id']} `{m['file']}:{m['line']}`: {notes.get(m['id'], 'not yet judged')}", "", "```diff"]
            out += ["-" + line for line in m["original"].splitlines()] + ["+" + line for line in m["mutated"].splitlines()]
            out.append("```")
    path.with_suffix(".md").write_text("\n".join(out) + "\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    drawing = commands.add_parser("sample", help="draw the fixed sample of mutants into tools/")
    drawing.add_argument("--seed", type=int, default=13)
    drawing.add_argument("--core", type=int, default=80, help="core mutants that build")
    drawing.add_argument("--python", type=int, default=60)
    drawing.add_argument("--venv", default=str(ROOT / "build" / "mutation-venv"), help="where universalmutator goes")
    running = commands.add_parser("run", help="run the saved sample against this checkout's tests")
    running.add_argument("--workdir", default=str(ROOT / "build" / "mutation"))
    running.add_argument("--python", default=sys.executable, help="the Python that builds and tests the package")
    running.add_argument("--only", choices=["core", "python"])
    running.add_argument("--serial", action="store_true", help="one mutant at a time")
    running.add_argument("--limit", type=int, help="a trial on the first LIMIT mutants of each sample")
    running.add_argument("--pytest-arg", action="append", default=[], help="e.g. --ignore=tests/python/test_x.py")
    running.add_argument("--report", default=str(TOOLS / "mutation-report"), help="path without suffix")
    rendering = commands.add_parser("report", help="render REPORT.json as REPORT.md with the notes")
    rendering.add_argument("json")
    args = parser.parse_args()
    if args.command == "report":
        render(Path(args.json))
    else:
        sample(args) if args.command == "sample" else run(args)


if __name__ == "__main__":
    main()
