#!/usr/bin/env python3
"""Measures Zorvik Setup against its peers and writes bench/results.md.

Called by bench/run.sh once everything is built; see there for the inputs.
Every time is the median of --runs runs, and every ratio compares figures
taken in the same invocation.
"""
import argparse
import datetime
import json
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

KIB = 1024
MB = 1_000_000
MSCOMPRESS_GOAL = 0.97
OPTIMUM_GOAL = 1.002
THROUGHPUT_GOAL = 10 * MB
INSTALL_GOAL = 1.0

RT_RCDATA = "10"

# The installers measured, by the names the report gives them.
OURS = "Zorvik Setup"
BASELINE = "Zorvik Setup (baseline)"
BEFORE = "Zorvik Setup (before)"
FLOOR = "the dialog alone (floor)"
SETTLE_S = 0.5        # between the warmup and the measured run
WINDOW_GOAL = 0.65    # start → program window against NSIS with its interface
PAGE_GOAL = 0.75      # start → dialog ready against NSIS's directory page shown
DIALOG_GOAL = 1.05    # start → dialog ready against the baseline build
STUB_GOAL = 30 * 1024  # the installer without its payloads: 30 KiB with the version resource and stack checks
WIZARDS = ("NSIS zlib", "NSIS lzma")            # with their interface
SILENT = ("NSIS zlib /S", "NSIS lzma /S")

STARTED = time.time()


def log(msg):
    print(f"bench: [{time.time() - STARTED:5.0f} s] {msg}", file=sys.stderr, flush=True)


def fail(msg):
    log(f"error: {msg}")
    sys.exit(1)


def paired_ratio(ours, base):
    """The median of the rounds' ratios, with its 95 % bootstrap interval
    (the rounds resampled 2,000 times, a fixed seed): "0.999 [0.89, 1.13]"."""
    ratios = [o / b for o, b in zip(ours, base)]
    rng = random.Random(1)
    boot = sorted(median([rng.choice(ratios) for _ in ratios]) for _ in range(2000))
    return median(ratios), f"{median(ratios):.3f} [{boot[49]:.2f}, {boot[1949]:.2f}]"


def median(values):
    return statistics.median(values)


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        fail(f"{' '.join(map(str, cmd))} failed ({r.returncode}): {r.stderr.strip()[-500:]}")
    return r.stdout


def timed(cmd, **kw):
    t0 = time.perf_counter()
    run(cmd, **kw)
    return time.perf_counter() - t0


# ---------------------------------------------------------------- Wine


class Wine:
    """Runs the shell functions of the project's wine-env.sh: Wine in a Wine
    root of its own (prefix and home), fresh copies of a prefix."""

    def __init__(self, env_script):
        self.env_script = str(env_script)

    def _bash(self, script, args, root=None, timeout=300, check=True):
        cmd = ["bash", "-c", 'source "$0"; ' + script, self.env_script, *map(str, args)]
        env = dict(os.environ)
        env.pop("WINEPREFIX", None)
        if root:
            env["ZORVIK_WINE_ROOT"] = str(root)
        # Output goes through files, not pipes: Wine's server and services
        # outlive the command and would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(cmd, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            r = subprocess.CompletedProcess(cmd, code, out.read().decode(errors="replace"),
                                            err.read().decode(errors="replace"))
        if check and r.returncode != 0:
            fail(f"{' '.join(map(str, args))} failed ({r.returncode}): {r.stderr.strip()[-800:]}")
        return r

    def run(self, root, args, timeout=300, check=True):
        return self._bash('zorvik_wine_env || exit 97; exec "$@"', args, root, timeout, check)

    def copy(self, root, source=None):
        """`root` becomes a Wine root with a fresh prefix: a copy of the build's
        quiet prefix, or, with `source` (a root of the bench's own), a copy of
        that one whose read-only files are hard links to the source's."""
        args = ["--link", root, source / "prefix"] if source else [root]
        self._bash('zorvik_prefix_copy "$@"', args, timeout=600)


def windows_path(prefix_rel):
    """A path inside the prefix's drive C:, as the programs run there see it."""
    return "C:\\" + prefix_rel.replace("/", "\\")


# ---------------------------------------------------------------- figures


def package_table(path):
    """The package as the build describes it (the package table it writes from
    package/payloads.cmake): (resource id, file name, destination) in the
    manifest's order, the destination "D" for the installation folder and "S"
    for the system folder."""
    rows = re.findall(r"^\d+\s+(\d+)\s+(\S+)\s+([DS])\s+\d+\s+\d+$", path.read_text(), re.M)
    if not rows:
        fail(f"no package entries in {path}")
    return [(int(rid), name, dest) for rid, name, dest in rows]


def build_peers(a):
    """The NSIS installers of the same package (bench/peer.nsi), and the
    smallest useful one (bench/minimal.nsi, the package's smallest file)."""
    macro = {"D": "FolderFile", "S": "SystemFile"}
    files = a.work / "package.nsh"
    # The program is the first entry: its shortcuts are made and it is started.
    files.write_text(f'!define PROGRAM "{a.table[0][1]}"\n' +
                     "".join(f'!insertmacro {macro[dest]} "{name}"\n' for _, name, dest in a.table))
    nsis = {}
    for c in ("zlib", "lzma"):
        nsis[c] = a.work / f"nsis-{c}.exe"
        run(["makensis", "-V2", f"-DPKG={a.package}", f"-DFILES={files}", f"-DOUT={nsis[c]}",
             f"-DCOMPRESSOR={c}", str(a.bench_dir / "peer.nsi")])
    smallest = min((a.package / name for _, name, _ in a.table), key=lambda f: f.stat().st_size)
    nsis["minimal"] = a.work / "nsis-minimal.exe"
    run(["makensis", "-V2", f"-DFILE={smallest}", f"-DOUT={nsis['minimal']}",
         str(a.bench_dir / "minimal.nsi")])
    return nsis


def stub_and_sizes(a, setup, nsis):
    pe = [sys.executable, str(a.bench_dir / "pe_info.py")]
    res = [l.split() for l in run([*pe, "resources", str(setup)]).splitlines()]
    ids = {str(rid) for rid, _, _ in a.table}
    payloads = [int(n) for rtype, rid, _, n in res if rtype == RT_RCDATA and rid in ids]
    if len(payloads) != len(ids):
        fail(f"{setup} holds {len(payloads)} of the {len(ids)} payload resources")
    payload = sum(payloads)
    size = setup.stat().st_size
    sections = [l.split() for l in run([*pe, "sections", str(setup)]).splitlines()]
    kinds = {"3": "icon images", "14": "icon group", "5": "dialog", "16": "version", "24": "manifest"}
    other = {}
    for rtype, rid, _, rsize in res:
        if rtype == RT_RCDATA and rid in ids:
            continue
        label = kinds.get(rtype, f"type {rtype}")
        other[label] = other.get(label, 0) + int(rsize)
    rsrc = sum(int(n) for name, n in sections if name == ".rsrc")
    breakdown = ", ".join(f"{name} {int(n):,}" for name, n in sections if name != ".rsrc")
    breakdown += "; in .rsrc: " + ", ".join(f"{k} {v:,}" for k, v in other.items())
    breakdown += f", directory and padding {rsrc - payload - sum(other.values()):,}"
    return {"setup": size, "payload": payload, "payloads": len(payloads), "stub": size - payload,
            "breakdown": breakdown,
            "nsis_minimal": nsis["minimal"].stat().st_size,
            "nsis_zlib": nsis["zlib"].stat().st_size,
            "nsis_lzma": nsis["lzma"].stat().st_size}


def corpus_files(listing):
    files = []
    for line in listing.read_text().splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        p = Path(line)
        if p.is_file():
            files.append(p)
        else:
            log(f"warning: corpus file missing, skipped: {p}")
    names = [p.name for p in files]
    if len(set(names)) != len(names):
        fail("corpus file names must be unique")
    return files


def compress_ours(szdd, files, out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    t0 = time.perf_counter()
    for f in files:
        run([str(szdd), "compress", str(f), str(out_dir / f.name)])
    return time.perf_counter() - t0


def stage(files, work):
    """mscompress writes NAME_ beside each input: it works on fresh copies."""
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    for f in files:
        shutil.copyfile(f, work / f.name)
    return [work / f.name for f in files]


def compress_ms(staged):
    outputs = [Path(str(f) + "_") for f in staged]
    for out in outputs:
        if out.exists():
            out.unlink()
    return timed(["mscompress", *map(str, staged)]), outputs


def sizes(paths):
    return sum(p.stat().st_size for p in paths)


def compression(a, files, label, runs):
    """Our compressor and mscompress on `files`, alternating run by run."""
    ours_dir = a.work / f"{label}-ours"
    ms_dir = a.work / f"{label}-ms"
    staged = stage(files, ms_dir)
    t_ours, t_ms = [], []
    ms_out = []
    for r in range(runs):
        if r % 2 == 0:
            t_ours.append(compress_ours(a.szdd, files, ours_dir))
            t, ms_out = compress_ms(staged)
            t_ms.append(t)
        else:
            t, ms_out = compress_ms(staged)
            t_ms.append(t)
            t_ours.append(compress_ours(a.szdd, files, ours_dir))
    ours_out = [ours_dir / f.name for f in files]
    return {"input": sizes(files), "ours": sizes(ours_out), "ms": sizes(ms_out),
            "t_ours": median(t_ours), "t_ms": median(t_ms),
            "runs_ours": t_ours, "runs_ms": t_ms,
            "ours_files": ours_out, "ms_files": ms_out,
            "per_file": [(f.name, f.stat().st_size, o.stat().st_size, m.stat().st_size)
                         for f, o, m in zip(files, ours_out, ms_out)]}


def optimum(a, files, ours_by_name, runs):
    totals, secs = None, []
    for _ in range(runs):
        out = run([str(a.reference), *map(str, files)])
        lines = [l.split("\t") for l in out.strip().splitlines()]
        per_file = {Path(l[0]).name: int(l[2]) for l in lines[:-1]}
        if totals is not None and per_file != totals:
            fail("optimal_reference gave different sizes on two runs")
        totals = per_file
        secs.append(float(lines[-1][3]))
    worse = [n for n in totals if ours_by_name[n] > totals[n]]
    better = [n for n in totals if ours_by_name[n] < totals[n]]
    if better:
        fail(f"our output is smaller than the exhaustive optimum for {better}: one of the two is wrong")
    return {"optimal": sum(totals.values()), "ours": sum(ours_by_name[n] for n in totals),
            "seconds": median(secs), "runs": secs, "worse_files": worse,
            "input": sum(f.stat().st_size for f in files)}


def lz_expand(a, wine, ours_files, ms_files, runs):
    root = a.work / "wine-lz"
    wine.copy(root, a.base)
    drive = root / "prefix" / "drive_c"
    args = []
    for tag, group in (("a", ours_files), ("b", ms_files)):
        d = drive / "lzt" / tag
        d.mkdir(parents=True)
        for i, f in enumerate(group):
            shutil.copyfile(f, d / f"{i}.sz")
            args.append(windows_path(f"lzt/{tag}/{i}.sz"))
        if tag == "a":
            args.append("--")
    shutil.copyfile(a.lz_timer, drive / "lzt" / "lz_expand_timer.exe")
    r = wine.run(root, ["wine", windows_path("lzt/lz_expand_timer.exe"), str(runs),
                        windows_path("lzt/out.bin"), *args], timeout=900)
    wine.run(root, ["wineserver", "-k"], check=False)
    res = {}
    for line in r.stdout.splitlines():
        m = re.match(r"([AB]) median_ms=([\d.]+) bytes=(\d+) runs=(.*)", line.strip())
        if m:
            res[m[1]] = {"ms": float(m[2]), "bytes": int(m[3]), "runs": m[4]}
    if set(res) != {"A", "B"}:
        fail(f"lz_expand_timer printed no result: {r.stdout} {r.stderr}")
    shutil.rmtree(root, ignore_errors=True)
    return {"ours": res["A"], "ms": res["B"]}


def payload_check(a, wine, runs):
    """The installer's check of its payloads, in process: median microseconds."""
    root = a.work / "wine-check"
    wine.copy(root, a.base)
    drive = root / "prefix" / "drive_c"
    (drive / "chk").mkdir()
    shutil.copyfile(a.check_timer, drive / "chk" / "payload_check_timer.exe")
    r = wine.run(root, ["wine", windows_path("chk/payload_check_timer.exe"), str(max(runs, 25))])
    wine.run(root, ["wineserver", "-k"], check=False)
    m = re.search(r"check_us=([\d.]+) bytes=(\d+) runs=(\S+)", r.stdout)
    if not m:
        fail(f"payload_check_timer printed no result: {r.stdout} {r.stderr}")
    shutil.rmtree(root, ignore_errors=True)
    return {"us": float(m[1]), "bytes": int(m[2]), "runs": m[3]}


def find_ci(folder, name):
    """The file `name` in `folder`, matched without regard to case (as Windows does)."""
    if folder.is_dir():
        for p in folder.iterdir():
            if p.name.lower() == name.lower():
                return p
    return None


def check_installation(a, prefix, base_sysdir):
    """The same result is required of every installer: every package file in
    its place (a system-folder file beside the program when the system folder
    already had one) and the two shortcuts."""
    drive = prefix / "drive_c"
    inst = drive / "Program Files" / "Zorvik"
    sysdir = drive / "windows" / "system32"
    problems = []
    for _, name, dest in a.table:
        where = sysdir if dest == "S" and not find_ci(base_sysdir, name) else inst
        got = find_ci(where, name)
        if not got or got.read_bytes() != (a.package / name).read_bytes():
            problems.append(f"{where / name} missing or different")
    links = [p for d in ("users", "ProgramData") for p in (drive / d).rglob("Zorvik.lnk")]
    if len(links) != 2:
        problems.append(f"{len(links)} shortcuts instead of 2")
    return problems


def install_times(a, wine, base, installers, runs):
    """Every installer `runs` times, each run in a fresh copy of `base`,
    the order rotated run by run."""
    keys = ("ms", "peak_kb", "pressed_ms", "exited_ms", "shown_ms")
    results = {name: {k: [] for k in keys} for name, _, _ in installers}
    base_sysdir = base / "prefix" / "drive_c" / "windows" / "system32"
    root = a.work / "wine-run"
    for r in range(runs):
        k = r % len(installers)
        for name, mode, exe in installers[k:] + installers[:k]:
            wine.copy(root, base)
            bench_dir = root / "prefix" / "drive_c" / "bench"
            bench_dir.mkdir()
            shutil.copyfile(a.install_timer, bench_dir / "install_timer.exe")
            shutil.copyfile(exe, bench_dir / exe.name)
            # Start the prefix's Wine services and desktop before the clock
            # runs, the same way for every installer.
            wine.run(root, ["wineserver", "-p"])
            wine.run(root, ["wine", windows_path("bench/install_timer.exe"), "warmup"])
            # A process started the moment another one has ended often takes
            # some 40 ms longer to start, whichever it is: the clock starts
            # once that has passed, as for a user who starts an installer on
            # a desktop that is up.
            time.sleep(SETTLE_S)
            out = wine.run(root, ["wine", windows_path("bench/install_timer.exe"), mode,
                                  windows_path(f"bench/{exe.name}")], timeout=300, check=False)
            wine.run(root, ["wineserver", "-k"], check=False)
            fields = dict(re.findall(r"(\w+)=([\d.]+)", out.stdout))
            if out.returncode != 0 or not all(k in fields for k in keys):
                fail(f"{name}: installation run failed: {out.stdout} {out.stderr[-800:]}")
            problems = [] if mode == "floor" else check_installation(a, root / "prefix", base_sysdir)
            if problems:
                fail(f"{name}: installation incomplete: {'; '.join(problems)}")
            for key in keys:
                results[name][key].append(float(fields[key]))
            log(f"{base.name} run {r + 1}/{runs} {name}: {out.stdout.strip()}")
    shutil.rmtree(root, ignore_errors=True)
    return results


def prepare_bases(a, wine):
    """The two prefixes every run copies, both fresh copies of the build's:
    one as it is, one with Wine's X11 driver told not to hand windows to a
    window manager. The bench's X server has none, and without one Wine waits
    2 s for each hidden top-level window to be withdrawn; a desktop's manager
    answers at once."""
    wine.copy(a.base)
    wine.copy(a.unmanaged)
    wine.run(a.unmanaged, ["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                           "/d", "N", "/f"])
    wine.run(a.unmanaged, ["wineserver", "-w"], timeout=120)


def base_unchanged(base, since):
    """A write through a hard link would change the shared file: refuse the results."""
    changed = [p for p in base.rglob("*") if p.is_file() and not p.is_symlink()
               and p.stat().st_mtime > since]
    if changed:
        fail(f"the base prefix changed during the runs (e.g. {changed[0]}); figures not comparable")


def imports(a, exe):
    lines = run([sys.executable, str(a.bench_dir / "pe_info.py"), "imports", str(exe)])
    table = {}
    for line in lines.strip().splitlines():
        dll, _, funcs = line.partition(":")
        table[dll] = funcs.split()
    return table


# ---------------------------------------------------------------- report


def kib(n):
    return f"{n / KIB:,.1f} KiB"


def mbs(nbytes, secs):
    return nbytes / secs / MB


def yes(ok):
    return "yes" if ok else "**no**"


def machine():
    cpu = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    nsis = subprocess.run(["makensis", "-VERSION"], capture_output=True, text=True).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": cpu, "wine": wine, "nsis": nsis,
            "kernel": platform.release(), "load": loadavg(), "mode": execution_mode()}


def execution_mode():
    """How this machine runs Wine's 32-bit processes: natively, or through an
    emulator registered with binfmt_misc (a kernel that runs no 32-bit code)."""
    try:
        entry = Path("/proc/sys/fs/binfmt_misc/qemu-i386").read_text().splitlines()
    except OSError:
        entry = []
    if "enabled" not in entry:
        return "natively (the kernel runs 32-bit x86 code)"
    emulator = next((l.split(None, 1)[1] for l in entry if l.startswith("interpreter ")), "qemu-i386")
    version = subprocess.run([emulator, "--version"], capture_output=True, text=True).stdout
    version = version.splitlines()[0].strip() if version else emulator
    return (f"**under emulation**: the kernel runs no 32-bit code, so every 32-bit Wine process, "
            f"the peers' included, runs under {version} (binfmt_misc). These times do not stand "
            f"for Windows; the ratios against NSIS compare only within this run")


def loadavg():
    try:
        return Path("/proc/loadavg").read_text().split()[0]
    except OSError:
        return "?"


def report(a, m, sz, pkg, corp, opt, lz, inst, inst_default, imp, imp_nsis, elapsed, check, ab):
    rows = []
    add = rows.append
    add(("1", f"Stub (installer minus its {sz['payloads']} payloads)",
         f"{sz['stub']:,} B ({kib(sz['stub'])})",
         f"{sz['nsis_minimal']:,} B ({kib(sz['nsis_minimal'])}, minimal NSIS, 1 small file)",
         f"{sz['stub'] / sz['nsis_minimal']:.3f}", f"≤ {STUB_GOAL:,} B", yes(sz["stub"] <= STUB_GOAL)))
    add(("2", "Installer size vs NSIS zlib /SOLID", kib(sz["setup"]), kib(sz["nsis_zlib"]),
         f"{sz['setup'] / sz['nsis_zlib']:.3f}", "report", "—"))
    add(("2", "Installer size vs NSIS lzma /SOLID", kib(sz["setup"]), kib(sz["nsis_lzma"]),
         f"{sz['setup'] / sz['nsis_lzma']:.3f}", "report", "—"))
    add(("3a", f"Sample package, SZDD bytes ({pkg['input']:,} B in)", f"{pkg['ours']:,} B",
         f"{pkg['ms']:,} B (mscompress)", f"{pkg['ours'] / pkg['ms']:.4f}", "report", "—"))
    cr = corp["ours"] / corp["ms"]
    add(("3b", f"Corpus, SZDD bytes ({corp['input']:,} B in)", f"{corp['ours']:,} B",
         f"{corp['ms']:,} B (mscompress)", f"{cr:.4f}", "≤ 0.97", yes(cr <= MSCOMPRESS_GOAL)))
    orr = opt["ours"] / opt["optimal"]
    add(("3c", f"Corpus vs exhaustive optimum ({opt['input']:,} B)", f"{opt['ours']:,} B",
         f"{opt['optimal']:,} B (optimum)", f"{orr:.5f}", "≤ 1.002", yes(orr <= OPTIMUM_GOAL)))
    tp_ours = mbs(corp["input"], corp["t_ours"])
    tp_ms = mbs(corp["input"], corp["t_ms"])
    add(("3d", "Compression throughput, corpus", f"{tp_ours:.1f} MB/s", f"{tp_ms:.1f} MB/s (mscompress)",
         f"{tp_ours / tp_ms:.2f}", "≥ 10 MB/s", yes(tp_ours >= THROUGHPUT_GOAL / MB)))
    lz_ours = mbs(lz["ours"]["bytes"], lz["ours"]["ms"] / 1000)
    lz_ms = mbs(lz["ms"]["bytes"], lz["ms"]["ms"] / 1000)
    add(("3e", "Wine LZ32 expansion (LZCopy), corpus", f"{lz_ours:.1f} MB/s",
         f"{lz_ms:.1f} MB/s (on mscompress output)", f"{lz_ours / lz_ms:.3f}", "report", "—"))

    def versus(res, key, unit, peers, goal=None, goal_text="report"):
        """Ours against both NSIS builds of one kind on one figure: one row."""
        o = median(res[OURS][key])
        theirs = [median(res[p][key]) for p in peers]
        ratios = [o / t for t in theirs]
        met = yes(all(r <= goal for r in ratios)) if goal else "—"
        return (f"{o:,.0f} {unit}", " / ".join(f"{t:,.0f}" for t in theirs) + f" {unit} (zlib / lzma)",
                " / ".join(f"{r:.3f}" for r in ratios), goal_text, met)

    add(("4", "Installation time: start → installer exited and program window shown; "
         "NSIS with its interface (directory page, Install pressed at once)",
         *versus(inst, "ms", "ms", WIZARDS, INSTALL_GOAL, "≤ 1.0")))
    add(("4", "… start → installed program's window shown",
         *versus(inst, "shown_ms", "ms", WIZARDS, WINDOW_GOAL, f"≤ {WINDOW_GOAL}")))
    add(("4", "… start → dialog ready, against NSIS's directory page ready",
         *versus(inst, "pressed_ms", "ms", WIZARDS, PAGE_GOAL, f"≤ {PAGE_GOAL}")))
    if FLOOR in inst:
        o, f = median(inst[OURS]["pressed_ms"]), median(inst[FLOOR]["pressed_ms"])
        add(("4", "… start → dialog ready, against a program that only shows the same dialog "
             "(bench/dialog_floor; how much of the opening is the installer's own)",
             f"{o:,.0f} ms", f"{f:,.0f} ms (floor)", f"{o / f:.3f}", "report", "—"))
    add(("4", "… silent NSIS (/S, no window): start → installer exited and program window shown",
         *versus(inst, "ms", "ms", SILENT)))
    add(("4", "… silent NSIS: start → installed program's window shown",
         *versus(inst, "shown_ms", "ms", SILENT)))
    add(("4", "… default prefix (no window manager: Wine waits 2 s for each withdrawn dialog), "
         "NSIS with its interface", *versus(inst_default, "ms", "ms", WIZARDS, INSTALL_GOAL, "(≤ 1.0)")))
    add(("4", "… default prefix, start → installed program's window shown",
         *versus(inst_default, "shown_ms", "ms", WIZARDS, INSTALL_GOAL, "(≤ 1.0)")))
    if ab:
        ours, base = (median(ab[k]["click_ms"]) for k in (OURS, BASELINE))
        paired, text = paired_ratio(ab[OURS]["click_ms"], ab[BASELINE]["click_ms"])
        add(("4", f"… start button pressed → installed program's window shown, against the baseline build "
             f"(--baseline; {len(ab[OURS]['click_ms'])} rounds of both, ratio: median of the rounds' ratios "
             f"[95 % bootstrap interval])",
             f"{ours:,.0f} ms", f"{base:,.0f} ms (baseline)", text, f"≤ {a.ab_goal:.2f}",
             yes(paired <= a.ab_goal)))
        if BEFORE in ab:
            before = median(ab[BEFORE]["click_ms"])
            paired, text = paired_ratio(ab[OURS]["click_ms"], ab[BEFORE]["click_ms"])
            add(("4", "… the same rounds, start button pressed → installed program's window shown, against "
                 "the build before this change (--baseline-before)", f"{ours:,.0f} ms",
                 f"{before:,.0f} ms (before)", text, f"≤ {a.before_goal:.2f}",
                 yes(paired <= a.before_goal)))
        # Work moved before the dialog shows is not hidden: the same rounds'
        # start → dialog ready and start → program window.
        for key, what in (("pressed_ms", "start → dialog ready, button pressed"),
                          ("shown_ms", "start → installed program's window shown")):
            if key not in ab[OURS]:
                continue   # measurements of an earlier bench
            ours, base = (median(ab[k][key]) for k in (OURS, BASELINE))
            paired, text = paired_ratio(ab[OURS][key], ab[BASELINE][key])
            goal = key == "pressed_ms"
            add(("4", f"… the same rounds, {what}", f"{ours:,.0f} ms", f"{base:,.0f} ms (baseline)",
                 text, f"≤ {DIALOG_GOAL}" if goal else "report",
                 yes(paired <= DIALOG_GOAL) if goal else "—"))
    add(("4", f"… of which the payload check before the first write (CRC-32 of {check['bytes']:,} B)",
         f"{check['us']:,.0f} µs", "—", "", "report", "—"))
    add(("5", "Peak working set of the installer process (NSIS with its interface)",
         *versus(inst, "peak_kb", "KiB", WIZARDS)))
    n_funcs = sum(len(v) for v in imp.values())
    crt = [d for d in imp if re.match(r"(msvcr|ucrt|api-ms-win-crt|libstdc|libgcc|libwinpthread)", d, re.I)]
    add(("5", "Import table", f"{len(imp)} DLLs, {n_funcs} functions",
         f"{len(imp_nsis)} DLLs, {sum(len(v) for v in imp_nsis.values())} functions (NSIS)",
         "", "no C runtime", yes(not crt)))

    head = "| # | Figure | Zorvik Setup | Peer | Ratio | Goal | Met |\n|---|---|---|---|---|---|---|\n"
    table = head + "".join("| " + " | ".join(r) + " |\n" for r in rows)

    def runs_ms(v):
        return ", ".join(f"{x:.0f}" for x in v)

    details = []
    d = details.append
    d(f"- Installer: {sz['setup']:,} bytes, of which {sz['payload']:,} are the {sz['payloads']} payload "
      f"resources; stub {sz['stub']:,} bytes. NSIS builds: zlib {sz['nsis_zlib']:,}, lzma "
      f"{sz['nsis_lzma']:,}, minimal one-file installer {sz['nsis_minimal']:,} bytes.")
    d(f"- Stub bytes by part: {sz['breakdown']}.")
    d(f"- Compression times (s, {a.runs} runs, ours / mscompress alternating): ours "
      f"{', '.join(f'{x:.2f}' for x in corp['runs_ours'])}; mscompress "
      f"{', '.join(f'{x:.2f}' for x in corp['runs_ms'])}. Throughput = corpus input bytes / median "
      f"wall time of one process per file (ours, including its built-in round-trip check) or one "
      f"process for all files (mscompress).")
    d(f"- Exhaustive optimum: bench/optimal_reference over the whole corpus ({opt['input']:,} bytes, "
      f"every position x 4096 ring distances x lengths 3..18, shortest path at 9/17 bits), median "
      f"runtime {opt['seconds']:.1f} s (runs {', '.join(f'{x:.1f}' for x in opt['runs'])}). "
      f"Files where ours is larger than the optimum: {', '.join(opt['worse_files']) or 'none'}.")
    d(f"- Payload check: bench/payload_check_timer under Wine calls the installer's own check "
      f"(every payload resource's CRC-32 against the build's table) over and over; runs (µs): "
      f"{check['runs']}.")
    d(f"- LZ32 expansion: bench/lz_expand_timer under Wine, LZOpenFileA + LZCopy over every corpus "
      f"file, sets alternating; runs (ms) ours {lz['ours']['runs']}, mscompress {lz['ms']['runs']}.")
    for label, res in (("windows not managed", inst), ("default prefix", inst_default)):
        for name, v in res.items():
            phases = (f"button pressed at {median(v['pressed_ms']):.0f} ms, "
                      if v["pressed_ms"][0] else "")
            d(f"- Installation runs, {label}, {name} (ms): {runs_ms(v['ms'])}; medians: {phases}"
              f"installer exited at {median(v['exited_ms']):.0f} ms, program window at "
              f"{median(v['shown_ms']):.0f} ms; peak KiB: {', '.join(f'{x:.0f}' for x in v['peak_kb'])}.")
    if ab:
        d(f"- Against the baseline build, start button pressed → program window (ms): ours "
          f"{runs_ms(ab[OURS]['click_ms'])}; baseline {runs_ms(ab[BASELINE]['click_ms'])}.")
    d("- Installation time: bench/install_timer (under Wine) starts the installer and stops when "
      "the installer has exited and the installed program's window exists. Ours: it presses the "
      "start button as soon as the dialog shows. NSIS with its interface (bench/peer.nsi, a "
      "directory page and the installation page, which closes itself when done): it presses "
      "Install as soon as the directory page shows. Silent NSIS: the same installers with /S. "
      "Each run uses a fresh copy of one prepared prefix (programs and libraries hard-linked, "
      "the rest copied) whose Wine services are started before the clock runs, "
      f"{SETTLE_S:g} s before it (a process started the moment another has ended often starts "
      "some 40 ms late, whichever it is); installers are "
      "rotated run by run; every run's installation is checked against the build's package "
      "table (each file byte for byte in the installation or system folder, the 2 shortcuts). "
      "The goal rows use a prefix with HKCU\\Software\\Wine\\X11 Driver\\Managed=N: the "
      "bench's X server has no window manager, and Wine's X11 driver then waits 2 s for every "
      "hidden managed window to be withdrawn (a dialog when it ends; a silent NSIS installer "
      "shows no window). The default-prefix rows show that cost.")
    d("- Peak memory: PeakWorkingSetSize of the installer process (Wine reports the Linux process's "
      "VmHWM), sampled every millisecond by the same driver for every installer.")
    d(f"- Imports of ZorvikSetup.exe: " + "; ".join(f"{k}: {' '.join(v)}" for k, v in imp.items()))
    d(f"- Corpus ({len(a.corpus_list)} files, bench/corpus.txt): " +
      ", ".join(f"{n} {i:,}→{o:,}/{mm:,}" for n, i, o, mm in corp["per_file"]) +
      " (input → ours / mscompress bytes).")
    d(f"- Whole bench: {elapsed / 60:.1f} min.")

    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    md = (f"# Benchmark results\n\n"
          f"- Date: {now}\n- Machine: {m['nproc']} CPUs (nproc), {m['cpu']}, Linux {m['kernel']}; "
          f"load average {m['load']} at the start, {loadavg()} at the end (other work on the "
          f"machine shows as spread between runs)\n"
          f"- 32-bit programs run {m['mode']}\n"
          f"- Wine: {m['wine']}; NSIS: {m['nsis']}; times are medians of {a.runs} runs "
          f"({a.install_runs} for the installation times of the goal rows)\n\n"
          f"{table}\n## Details\n\n" + "\n".join(details) + "\n")
    return table, md


def main():
    p = argparse.ArgumentParser()
    for name in ("root", "work", "setup", "package", "table", "szdd", "reference",
                 "lz-timer", "install-timer", "check-timer"):
        p.add_argument("--" + name, required=True, type=Path)
    p.add_argument("--baseline", type=Path,
                   help="another build of the installer, timed against this one in the goal rows")
    p.add_argument("--baseline-before", type=Path,
                   help="the build before this change, timed in the same rounds as --baseline")
    p.add_argument("--before-goal", type=float, default=1.05,
                   help="the largest ratio of click to window against --baseline-before that meets the goal")
    p.add_argument("--floor", type=Path, help="bench/dialog_floor.exe")
    p.add_argument("--ab-runs", type=int, default=40, help="rounds of the comparison with --baseline")
    p.add_argument("--ab-goal", type=float, default=1.05,
                   help="the largest ratio of click to window against --baseline that meets the goal")
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--install-runs", type=int, default=9)
    p.add_argument("--report-only", action="store_true",
                   help="rewrite results.md from the last run's measurements.json")
    a = p.parse_args()
    a.bench_dir = a.root / "bench"
    if a.report_only:
        write_report(a, json.loads((a.work / "measurements.json").read_text()))
        return
    if min(a.runs, a.install_runs) < 5:
        fail("at least 5 runs")
    started = time.time()
    a.work.mkdir(parents=True, exist_ok=True)
    a.base = a.work / "wine-base"
    a.unmanaged = a.work / "wine-base-unmanaged"
    a.table = package_table(a.table)
    wine = Wine(a.root / "tests" / "support" / "wine-env.sh")

    log("building the NSIS installers")
    nsis = build_peers(a)
    m = machine()
    sz = stub_and_sizes(a, a.setup, nsis)
    log(f"stub {sz['stub']} bytes")

    pkg_files = [a.package / name for _, name, _ in a.table]
    missing = [str(f) for f in pkg_files if not f.is_file()]
    if missing:
        fail(f"package files missing: {missing}")
    pkg = compression(a, pkg_files, "package", a.runs)
    a.corpus_list = corpus_files(a.bench_dir / "corpus.txt")
    if sum(f.stat().st_size for f in a.corpus_list) < 20 * MB:
        log("warning: the corpus present on this machine is under 20 MB")
    log("compressing the corpus")
    corp = compression(a, a.corpus_list, "corpus", a.runs)
    log("exhaustive optimum")
    opt = optimum(a, a.corpus_list, {o.name: o.stat().st_size for o in corp["ours_files"]}, a.runs)

    log("preparing the Wine prefixes")
    prepare_bases(a, wine)
    since = time.time()
    log("LZ32 expansion under Wine")
    lz = lz_expand(a, wine, corp["ours_files"], corp["ms_files"], a.runs)
    log("the payload check")
    check = payload_check(a, wine, a.runs)
    installers = [(OURS, "dialog", a.setup),
                  (WIZARDS[0], "pages", nsis["zlib"]), (WIZARDS[1], "pages", nsis["lzma"]),
                  (SILENT[0], "silent", nsis["zlib"]), (SILENT[1], "silent", nsis["lzma"])]
    log("installation runs, windows not managed")
    floor = [(FLOOR, "floor", a.floor)] if a.floor else []
    inst = install_times(a, wine, a.unmanaged, installers + floor, a.install_runs)
    ab = {}
    if a.baseline:
        # A 5 % difference needs many rounds on a shared machine: both builds
        # alternate, and each round's ratio is taken, so drift between rounds
        # cancels out.
        log("installation runs against the baseline build")
        before = [(BEFORE, "dialog", a.baseline_before)] if a.baseline_before else []
        pairs = install_times(a, wine, a.unmanaged,
                              [(OURS, "dialog", a.setup), (BASELINE, "dialog", a.baseline)] + before, a.ab_runs)
        ab = {k: {"click_ms": [s - p for s, p in zip(v["shown_ms"], v["pressed_ms"])],
                  "pressed_ms": v["pressed_ms"], "shown_ms": v["shown_ms"]} for k, v in pairs.items()}
    log("installation runs, default prefix")
    inst_default = install_times(a, wine, a.base, installers, a.runs)
    base_unchanged(a.base, since)
    base_unchanged(a.unmanaged, since)

    imp = imports(a, a.setup)
    imp_nsis = imports(a, nsis["lzma"])
    data = {"m": m, "sz": sz, "pkg": pkg, "corp": corp, "opt": opt, "lz": lz, "inst": inst,
            "inst_default": inst_default, "imp": imp, "imp_nsis": imp_nsis, "check": check, "ab": ab,
            "elapsed": time.time() - started, "corpus_list": a.corpus_list}
    (a.work / "measurements.json").write_text(json.dumps(data, default=str, indent=1))
    write_report(a, data)


def write_report(a, data):
    a.corpus_list = data["corpus_list"]
    table, md = report(a, data["m"], data["sz"], data["pkg"], data["corp"], data["opt"], data["lz"],
                       data["inst"], data["inst_default"], data["imp"], data["imp_nsis"],
                       data["elapsed"], data["check"], data.get("ab"))
    (a.bench_dir / "results.md").write_text(md)
    print(table, end="")


if __name__ == "__main__":
    main()
