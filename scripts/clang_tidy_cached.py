#!/usr/bin/env python3
"""Runs clang-tidy over the sources a build compiled, skipping every source
already known clean.

A source is known clean when clang-tidy found nothing in it with the same
inputs: the clang-tidy version, the repo's .clang-tidy, the compile command,
and the contents of the source and of every project header it included (from
the build's dependency records). Only clean results are remembered, in
$ORVEX_TIDY_CACHE (default ~/.cache/orvex-tidy), so a source with findings is
checked again on every run.

    clang_tidy_cached.py BUILD_DIR REPO FILE_REGEX [--all]

Prints each finding once (a header's finding repeats for every source that
includes it) as "path:line:col: warning: ..." with the path in the sources,
and exits 1 on any finding or failure.
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys


def tidy_version():
    out = subprocess.run(["clang-tidy", "--version"], capture_output=True, text=True, check=True)
    return out.stdout


def header_deps(build):
    """Object file -> the project files it read, from ninja's records."""
    out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True, check=True)
    deps, current = {}, None
    for line in out.stdout.splitlines():
        if not line.strip():
            continue
        if not line.startswith(" "):
            current = line.split(":", 1)[0]
            deps[current] = []
        elif current is not None:
            deps[current].append(line.strip())
    return deps


def object_of(command):
    args = shlex.split(command)
    return args[args.index("-o") + 1] if "-o" in args else None


def digest_files(paths, repo):
    h = hashlib.sha256()
    for path in sorted(set(paths)):
        real = os.path.realpath(path)
        if not real.startswith(repo + os.sep):
            continue  # system headers: covered by the tool's version
        h.update(os.path.relpath(real, repo).encode())
        try:
            with open(real, "rb") as f:
                h.update(hashlib.sha256(f.read()).digest())
        except OSError:
            h.update(b"missing")
    return h.hexdigest()


def main():
    build, repo, pattern = sys.argv[1], os.path.realpath(sys.argv[2]), re.compile(sys.argv[3])
    use_cache = "--all" not in sys.argv[4:]
    cache = os.environ.get("ORVEX_TIDY_CACHE", os.path.expanduser("~/.cache/orvex-tidy"))
    os.makedirs(cache, exist_ok=True)

    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = [e for e in json.load(f) if pattern.match(e["file"])]
    deps = header_deps(build)
    with open(os.path.join(repo, ".clang-tidy"), "rb") as f:
        common = tidy_version().encode() + f.read()

    todo = []
    for e in entries:
        obj = object_of(e["command"])
        files = deps.get(obj, []) + [e["file"]]
        # Paths of the clone left out, so that every clone of a commit shares the results.
        command = e["command"].replace(repo, "@REPO@").replace(os.path.realpath(build), "@BUILD@")
        key = hashlib.sha256(common + command.encode() + digest_files(files, repo).encode()).hexdigest()
        if use_cache and os.path.exists(os.path.join(cache, key)):
            continue
        todo.append((e["file"], key))

    def check(item):
        path, key = item
        run = subprocess.run(["clang-tidy", "-p", build, "--quiet", path], capture_output=True, text=True)
        return path, key, run

    findings, failed = set(), []
    jobs = int(os.environ.get("ORVEX_TIDY_JOBS", "2"))
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for path, key, run in pool.map(check, todo):
            found = [ln for ln in run.stdout.splitlines() if re.search(r": (warning|error): ", ln)]
            for ln in found:
                name, rest = ln.split(":", 1)
                findings.add(os.path.realpath(name) + ":" + rest)
            if not found and run.returncode == 0:
                open(os.path.join(cache, key), "w").close()
            elif not found:
                failed.append((path, run.stdout + run.stderr))

    for line in sorted(findings):
        print(line)
    for path, text in failed:
        print(f"clang-tidy: failed on {path}:\n{text}", file=sys.stderr)
    print(f"clang-tidy: {len(entries)} sources, {len(entries) - len(todo)} known clean, {len(todo)} checked",
          file=sys.stderr)
    if findings:
        print(f"clang-tidy: {len(findings)} findings", file=sys.stderr)
    return 1 if findings or failed else 0


if __name__ == "__main__":
    sys.exit(main())
