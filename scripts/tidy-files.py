#!/usr/bin/env python3
"""clang-tidy over the files of a compile database that match a pattern, in parallel;
exits 1 on any finding. A file whose whole input is the same as when it last passed is
not checked again: the key is its preprocessed text (with this tree's path taken out, so
that clones share it), its compile command, .clang-tidy and clang-tidy's version. Only
passes are remembered, under ~/.cache/varnel/tidy (VARNEL_TIDY_CACHE; "off" for none).
  scripts/tidy-files.py CLANG_TIDY BUILD_DIR ROOT FILE_PATTERN JOBS
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
import threading


def preprocess_command(command):
    """The compile command, made to print the preprocessed source instead."""
    args = shlex.split(command)
    out, skip = [], False
    for arg in args:
        if skip:
            skip = False
        elif arg == "-o":
            skip = True
        elif arg != "-c":
            out.append(arg)
    return out + ["-E", "-P"]


def main():
    tidy, build, root, pattern, jobs = sys.argv[1:6]
    cache = os.environ.get("VARNEL_TIDY_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "varnel", "tidy")
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = {e["file"]: e for e in json.load(f) if re.search(pattern, e["file"])}
    version = subprocess.run([tidy, "--version"], capture_output=True, check=True).stdout
    with open(os.path.join(root, ".clang-tidy"), "rb") as f:
        config = f.read()
    here = root.encode()

    def key(entry):
        pre = subprocess.run(preprocess_command(entry["command"]), cwd=entry["directory"], capture_output=True)
        if pre.returncode != 0:
            return None  # checked every time; clang-tidy says what is wrong
        h = hashlib.sha256()
        for part in (version, config, entry["command"].encode().replace(here, b"<root>"),
                     pre.stdout.replace(here, b"<root>")):
            h.update(len(part).to_bytes(8, "little") + part)
        return h.hexdigest()

    def check(entry):
        k = key(entry) if cache != "off" else None
        stamp = os.path.join(cache, k) if k else None
        if stamp and os.path.exists(stamp):
            return entry["file"], 0, "", True
        run = subprocess.run([tidy, "-quiet", "-p", build, entry["file"]], capture_output=True, text=True,
                             errors="replace")
        said = "\n".join(line for line in (run.stdout + run.stderr).splitlines()
                         if not re.fullmatch(r"\d+ warnings? (generated|treated as errors)\.", line))
        if run.returncode == 0 and not said.strip() and stamp:
            os.makedirs(cache, exist_ok=True)
            # A stamp is complete or absent: written beside, then renamed.
            tmp = f"{stamp}.{os.getpid()}.{threading.get_ident()}.tmp"
            with open(tmp, "w", encoding="utf-8") as f:
                f.write(entry["file"] + "\n")
            os.replace(tmp, stamp)
        return entry["file"], run.returncode, said, False

    failed = cached = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, int(jobs))) as pool:
        for file, code, said, hit in pool.map(check, sorted(entries.values(), key=lambda e: e["file"])):
            cached += hit
            if code != 0 or said.strip():
                failed += 1
                print(said.strip() or f"{file}: clang-tidy ended with {code}", flush=True)
    print(f"clang-tidy: {len(entries)} files, {cached} unchanged since they passed, {failed} with findings",
          file=sys.stderr)
    return 1 if failed or not entries else 0


if __name__ == "__main__":
    sys.exit(main())
