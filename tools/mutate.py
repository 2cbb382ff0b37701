#!/usr/bin/env python3
"""Mutation sampler: how many small faults planted in the product do our tests notice?

Takes a private copy of the committed tree (a git worktree of one commit, removed
at the end), picks COUNT mutation sites in the product's sources with a seeded
random generator, and for each mutant alone rebuilds the copy and runs the test
programs that link the mutated file. A mutant that makes a test fail or hang is
killed; one the tests pass with survived. The score is killed/built.

    tools/mutate.py --count 30 --seed 1              # build and test every mutant
    tools/mutate.py --count 20 --seed 7 --list-only  # only show which mutants a seed picks

The sites are drawn from a sorted list of (file, line, column, operator), so one
seed on one commit always gives the same mutants.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

# The library folders, each linked by every folder after it (uninstaller -> paths ->
# resources -> win32compat -> strings -> platform), so a fault in one can show in
# the test programs of that folder and of every later one.
FOLDERS = ("platform", "strings", "win32compat", "resources", "paths", "uninstaller")
# The end-to-end runs start the real uninstaller in an isolated root: worth their
# minutes only for code they exercise beyond the unit tests.
E2E_FOLDERS = ("uninstaller/", "paths/")
E2E_PLATFORM_ROOMS = ("platform/session/", "platform/files/")

DEFAULT_TIMEOUT = 300

OPERATORS = (
    "rel-boundary",   # < -> <=, <= -> <, > -> >=, >= -> >
    "rel-negate",     # < -> >=, <= -> >, > -> <=, >= -> <, == -> !=, != -> ==
    "logic",          # && <-> ||
    "negate-if",      # if (c) -> if (!(c))
    "bool-literal",   # true <-> false, TRUE <-> FALSE
    "int-constant",   # 0 -> 1, 1 -> 0, n -> n+1
    "early-return",   # the failure value returned first thing in a function body
    "ignore-result",  # x = f(...); -> f(...);
)

KEYWORDS = {
    "if", "for", "while", "switch", "catch", "return", "sizeof", "alignof", "decltype",
    "noexcept", "requires", "static_assert", "assert", "new", "delete", "throw", "case",
    "else", "do", "co_return", "co_await", "operator", "typeid", "alignas",
}

# ---------------------------------------------------------------------------
# Reading a source: comments and literals blanked out, position for position.


def blank_code(text):
    """The text with comments, string and character literals replaced by spaces
    (newlines and the quotes themselves kept), so every offset still matches."""
    out = list(text)
    n = len(text)
    i = 0

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if c == "/" and text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif c == "/" and text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c == '"':
            raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[max(0, i - 3):i + 20])
            start = i
            if i > 0 and text[i - 1] == "R" and raw:
                delim = ")" + raw.group(1) + '"'
                j = text.find(delim, i + 1)
                j = n if j < 0 else j + len(delim)
            else:
                j = i + 1
                while j < n and text[j] != '"' and text[j] != "\n":
                    j += 2 if text[j] == "\\" else 1
                j = min(j + 1, n)
            blank(start + 1, j - 1)
            i = j
        elif c == "'":
            # A digit separator (1'000'000) is not a character literal.
            k = i - 1
            while k >= 0 and (text[k].isalnum() or text[k] in "'_"):
                k -= 1
            if k + 1 < i and text[k + 1].isdigit():
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != "'" and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            blank(i + 1, j - 1)
            i = j
        else:
            i += 1
    return "".join(out)


BRACKET_PARTNERS = {"(": ")", "[": "]", "{": "}", ")": "(", "]": "[", "}": "{"}


def match_bracket(code, at, step):
    """Offset of the bracket matching the one at `at`, searching forward (step 1) from
    an opening one or backward (step -1) from a closing one; -1 when there is none."""
    own, partner = code[at], BRACKET_PARTNERS[code[at]]
    depth = 0
    for k in range(at, len(code) if step > 0 else -1, step):
        if code[k] == own:
            depth += 1
        elif code[k] == partner:
            depth -= 1
            if depth == 0:
                return k
    return -1


@dataclass
class Source:
    path: str          # relative to the tree's root
    text: str
    code: str = ""     # text with comments and literals blanked
    line_starts: list = field(default_factory=list)
    excluded: set = field(default_factory=set)  # 1-based lines no mutant may touch

    def __post_init__(self):
        self.code = blank_code(self.text)
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", self.text)]
        self.excluded = self._excluded_lines()

    def line_of(self, offset):
        lo, hi = 0, len(self.line_starts) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if self.line_starts[mid] <= offset:
                lo = mid
            else:
                hi = mid - 1
        return lo + 1

    def column_of(self, offset):
        return offset - self.line_starts[self.line_of(offset) - 1] + 1

    def line_text(self, line):
        start = self.line_starts[line - 1]
        end = self.text.find("\n", start)
        return self.text[start:] if end < 0 else self.text[start:end]

    def _excluded_lines(self):
        lines = self.code.split("\n")
        excluded = set()
        continued = False
        for number, line in enumerate(lines, 1):
            # Preprocessor lines (#include, #define and their continuations), and
            # lines that are only a comment (blank once comments are removed).
            if continued or line.lstrip().startswith("#") or not line.strip():
                excluded.add(number)
                continued = line.rstrip().endswith("\\") and (continued or line.lstrip().startswith("#"))
            else:
                continued = False
        # Assertions compile away in the tested build, and static_assert is the compiler's.
        for m in re.finditer(r"\b(?:static_assert|assert)\s*\(", self.code):
            close = match_bracket(self.code, m.end() - 1, 1)
            last = self.line_of(close if close >= 0 else m.end())
            excluded.update(range(self.line_of(m.start()), last + 1))
        return excluded


# ---------------------------------------------------------------------------
# Candidate mutants.


@dataclass
class Mutant:
    path: str
    line: int
    column: int
    operator: str
    edits: list           # [(start, end, replacement)], offsets into the original text
    original: str         # what the report shows
    mutated: str

    def key(self):
        return (self.path, self.line, self.column, self.operator)

    def site(self):
        return (self.path, self.line, self.column)

    def apply(self, text):
        for start, end, replacement in sorted(self.edits, reverse=True):
            text = text[:start] + replacement + text[end:]
        return text


def shown(text, limit=90):
    text = " ".join(text.split())
    return text if len(text) <= limit else text[:limit - 3] + "..."


def shown_pair(before, after, limit=90):
    """Both sides on one line each, cut to a window that holds the change."""
    before, after = " ".join(before.split()), " ".join(after.split())
    if max(len(before), len(after)) <= limit:
        return before, after
    same = 0
    while same < min(len(before), len(after)) and before[same] == after[same]:
        same += 1
    start = max(0, same - limit // 3)

    def cut(text):
        window = text[start:start + limit]
        return ("..." if start else "") + window + ("..." if start + limit < len(text) else "")
    return cut(before), cut(after)


def line_mutant(src, operator, edits):
    """A mutant whose report shows the touched lines before and after."""
    first = src.line_of(min(e[0] for e in edits))
    last = src.line_of(max(e[1] for e in edits))
    if any(n in src.excluded for n in range(first, last + 1)):
        return None
    start = src.line_starts[first - 1]
    end = src.text.find("\n", max(e[1] for e in edits))
    end = len(src.text) if end < 0 else end
    before = src.text[start:end]
    local = [(a - start, b - start, r) for a, b, r in edits]
    after = before
    for a, b, r in sorted(local, reverse=True):
        after = after[:a] + r + after[b:]
    return Mutant(src.path, first, src.column_of(min(e[0] for e in edits)), operator,
                  edits, *shown_pair(before, after))


RELATIONAL = re.compile(r"(?<=[ \t])(<=|>=|==|!=|<|>)(?=[ \t\n])")
BOUNDARY = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
NEGATION = {"<": ">=", "<=": ">", ">": "<=", ">=": "<", "==": "!=", "!=": "=="}
LOGIC = re.compile(r"(?<=[ \t])(&&|\|\|)(?=[ \t\n])")
BOOLS = re.compile(r"\b(true|false|TRUE|FALSE)\b")
BOOL_SWAP = {"true": "false", "false": "true", "TRUE": "FALSE", "FALSE": "TRUE"}
INTEGER = re.compile(r"(?<![\w.'])(\d+)([uUlLzZ]*)(?![\w.'])")
SMALL_LIMIT = 256
IF_OPEN = re.compile(r"\bif\s*\(")
ASSIGN_CALL = re.compile(
    r"(?m)^([ \t]*)((?:this->)?[A-Za-z_]\w*(?:(?:\.|->)[A-Za-z_]\w*)*)[ \t]*=[ \t]*"
    r"((?:::)?[A-Za-z_]\w*(?:(?:::|\.|->)[A-Za-z_]\w*)*)[ \t]*\(")

# The failure value a function of each return type hands back, when its body names none.
FAILURE_DEFAULT = {
    "bool": "false", "Boolean": "false", "BOOL": "FALSE",
    "OSErr": "-1", "OSStatus": "-1", "int": "-1", "HRESULT": "E_FAIL",
}
SUCCESS_VALUES = {"0", "noErr", "S_OK", "ERROR_SUCCESS", "EXIT_SUCCESS", "kNoErr"}
CONSTANT_LIKE = re.compile(r"^(?:-\d+|[a-z][A-Za-z0-9]*Err|k[A-Z]\w*|[A-Z][A-Z0-9_]+)$")
LEADING_WORDS = {"static", "inline", "constexpr", "virtual", "extern", "friend", "explicit",
              "consteval", "[[nodiscard]]", "[[maybe_unused]]"}


def relational_mutants(src):
    for m in RELATIONAL.finditer(src.code):
        before = src.code[:m.start()].rstrip()
        if before.endswith("operator") or before.endswith("template"):
            continue
        op = m.group(1)
        if op in BOUNDARY:
            yield line_mutant(src, "rel-boundary", [(m.start(), m.end(), BOUNDARY[op])])
        yield line_mutant(src, "rel-negate", [(m.start(), m.end(), NEGATION[op])])


def logic_mutants(src):
    for m in LOGIC.finditer(src.code):
        yield line_mutant(src, "logic", [(m.start(), m.end(), "||" if m.group(1) == "&&" else "&&")])


def bool_mutants(src):
    for m in BOOLS.finditer(src.code):
        yield line_mutant(src, "bool-literal", [(m.start(), m.end(), BOOL_SWAP[m.group(1)])])


def integer_mutants(src):
    for m in INTEGER.finditer(src.code):
        digits = m.group(1)
        if len(digits) > 1 and digits.startswith("0"):
            continue  # octal
        value = int(digits)
        if value > SMALL_LIMIT:
            continue
        changed = {0: "1", 1: "0"}.get(value, str(value + 1))
        yield line_mutant(src, "int-constant", [(m.start(1), m.end(1), changed)])


def top_level(code, start, end):
    """The characters of code[start:end] outside nested brackets."""
    depth = 0
    out = []
    for ch in code[start:end]:
        if ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif depth == 0:
            out.append(ch)
        else:
            out.append(" ")
    return "".join(out)


def negate_if_mutants(src):
    for m in IF_OPEN.finditer(src.code):
        open_at = m.end() - 1
        close_at = match_bracket(src.code, open_at, 1)
        if close_at < 0:
            continue
        outer = top_level(src.code, open_at + 1, close_at)
        # An init-statement or a declaration in the condition does not negate.
        if ";" in outer or re.search(r"(?<![=!<>])=(?!=)", outer):
            continue
        yield line_mutant(src, "negate-if", [(open_at + 1, open_at + 1, "!("),
                                             (close_at, close_at, ")")])


def ignore_result_mutants(src):
    for m in ASSIGN_CALL.finditer(src.code):
        target, callee = m.group(2), m.group(3)
        if target in KEYWORDS or callee.split("::")[-1] in KEYWORDS:
            continue
        close_at = match_bracket(src.code, m.end() - 1, 1)
        if close_at < 0 or not src.code[close_at + 1:].lstrip(" \t").startswith(";"):
            continue
        # Only a statement of its own: the previous code ends one.
        previous = src.code[:m.start()].rstrip()
        if previous and previous[-1] not in ";{}:" and not previous.endswith("else"):
            continue
        yield line_mutant(src, "ignore-result", [(m.start(2), m.start(3), "")])


def function_bodies(src):
    """(return type, name, offset of the body's '{', offset of its '}') of every
    function defined with a plain return type."""
    code = src.code
    for brace in (i for i, ch in enumerate(code) if ch == "{"):
        head = code[max(0, brace - 200):brace]
        tail = re.search(r"\)((?:\s*(?:const|noexcept|override|final))*)\s*$", head)
        if not tail:
            continue
        close_at = brace - len(head) + tail.start()
        open_at = match_bracket(code, close_at, -1)
        if open_at < 0:
            continue
        before = code[max(0, open_at - 300):open_at]
        name = re.search(r"((?:[A-Za-z_]\w*::)*~?[A-Za-z_]\w*)\s*$", before)
        if not name or name.group(1).split("::")[-1] in KEYWORDS:
            continue
        prefix = before[:name.start()]
        words = re.findall(r"\[\[\w+\]\]|[A-Za-z_][\w:]*|[^\sA-Za-z_]", prefix)
        if not words or words[-1] not in FAILURE_DEFAULT:
            continue
        ahead = words[-2] if len(words) > 1 else ";"
        if ahead not in LEADING_WORDS and ahead not in (";", "}", "{", ">", ":"):
            continue
        end = match_bracket(code, brace, 1)
        if end < 0:
            continue
        yield words[-1], name.group(1), brace, end


def failure_value(src, return_type, brace, end):
    default = FAILURE_DEFAULT[return_type]
    if return_type in ("bool", "Boolean", "BOOL"):
        return default
    for m in re.finditer(r"\breturn\s+(-?\s*[\w:]+)\s*;", src.code[brace:end]):
        value = re.sub(r"\s+", "", m.group(1))
        if value not in SUCCESS_VALUES and CONSTANT_LIKE.match(value):
            return value
    return default


def early_return_mutants(src):
    for return_type, name, brace, end in function_bodies(src):
        if src.line_of(brace) in src.excluded:
            continue
        value = failure_value(src, return_type, brace, end)
        insert = f" return {value};"
        short = name.split("::")[-1]
        yield Mutant(src.path, src.line_of(brace), src.column_of(brace), "early-return",
                     [(brace + 1, brace + 1, insert)],
                     f"{return_type} {short}(...) {{", f"{return_type} {short}(...) {{{insert}")


GENERATORS = (relational_mutants, logic_mutants, negate_if_mutants, bool_mutants,
              integer_mutants, early_return_mutants, ignore_result_mutants)


def candidates(sources):
    found = {}
    for src in sources:
        for generate in GENERATORS:
            for mutant in generate(src):
                if mutant is not None:
                    found.setdefault(mutant.key(), mutant)
    return [found[k] for k in sorted(found)]


def choose(all_mutants, count, seed):
    """COUNT mutants at distinct sites, drawn with the seed from the sorted list."""
    rng = random.Random(seed)
    order = list(range(len(all_mutants)))
    rng.shuffle(order)
    chosen, sites = [], set()
    for index in order:
        mutant = all_mutants[index]
        if mutant.site() in sites:
            continue
        sites.add(mutant.site())
        chosen.append(mutant)
        if len(chosen) == count:
            break
    return sorted(chosen, key=Mutant.key)


# ---------------------------------------------------------------------------
# The tree.


def git(repo, *args, **kwargs):
    return subprocess.run(["git", "-C", repo, *args], check=True, text=True,
                          stdout=subprocess.PIPE, **kwargs).stdout


def is_product_source(path):
    return path.split("/")[0] in FOLDERS and path.endswith((".cpp", ".h"))


def sources_at(repo, rev):
    """The product's sources as committed in rev, read from git (no checkout)."""
    names = git(repo, "ls-tree", "-r", "--name-only", rev, "--", *FOLDERS).split("\n")
    names = sorted(n for n in names if n and is_product_source(n))
    return [Source(n, git(repo, "show", f"{rev}:{n}")) for n in names]


def uses_e2e(path, tree):
    if path.startswith(E2E_FOLDERS) or path.startswith(E2E_PLATFORM_ROOMS):
        return True
    # The platform's public header of a session or file manager room, e.g.
    # platform/FileManager.h beside platform/files/FileManager.cpp.
    if path.count("/") == 1 and path.startswith("platform/") and path.endswith(".h"):
        stem = os.path.basename(path)[:-2]
        return any(os.path.exists(os.path.join(tree, room, stem + ".cpp")) for room in E2E_PLATFORM_ROOMS)
    return False


def programs_for(path, tree):
    """The test programs that link the file, the file's own folder first."""
    folder = path.split("/")[0]
    later = FOLDERS[FOLDERS.index(folder):]
    programs = [f"{f}_tests" for f in later if has_tests(tree, f)]
    if uses_e2e(path, tree) and has_tests(tree, "e2e"):
        programs.append("e2e_tests")
    return programs


def has_tests(tree, folder):
    base = os.path.join(tree, "tests", folder)
    for _root, _dirs, files in os.walk(base):
        if any(f.endswith(".cpp") for f in files):
            return True
    return False


# ---------------------------------------------------------------------------
# Running things.

def run_logged(cmd, log_path, cwd, env, timeout=None):
    """(exit status or None on timeout, seconds). The command runs in a process
    group of its own, which a timeout or an interrupt ends as a whole."""
    started = time.monotonic()
    with open(log_path, "w") as log:
        process = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=log, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            end_group(process)
            status = None
        except BaseException:  # interrupted: nothing of ours keeps running
            end_group(process)
            raise
    return status, time.monotonic() - started


def end_group(process):
    for sig, grace in ((signal.SIGTERM, 10), (signal.SIGKILL, 30)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=grace)
            return
        except subprocess.TimeoutExpired:
            continue


def failed_tests(log_path):
    names = []
    with open(log_path, errors="replace") as log:
        for line in log:
            m = re.match(r"\[  FAILED  \] (\S+\.\S+)", line)
            if m and m.group(1) not in names:
                names.append(m.group(1).rstrip(","))
    return names


def last_error(log_path):
    with open(log_path, errors="replace") as log:
        for line in log:
            if " error: " in line or line.startswith("FAILED:"):
                return line.strip()
    return ""


class Session:
    """The private copy: its tree, its build folder, its environment."""

    def __init__(self, tree, workdir, timeout, jobs, say):
        self.say = say
        self.tree = tree
        self.build = os.path.join(tree, "build")
        self.workdir = workdir
        self.timeout = timeout
        self.jobs = jobs
        self.env = dict(os.environ)
        # ccache hashes paths relative to the copy, so the main tree's objects hit here.
        self.env["CCACHE_BASEDIR"] = tree
        self.env["CCACHE_NOHASHDIR"] = "1"
        self.skip_filter = {}   # program -> tests failing before any mutant

    def log(self, name):
        return os.path.join(self.workdir, name)

    def configure(self):
        cmd = ["cmake", "--preset", "default"]
        if shutil.which("ccache"):
            cmd += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        status, _ = run_logged(cmd, self.log("configure.log"), self.tree, self.env)
        if status != 0:
            raise SystemExit(f"mutate: configuring the copy failed, see {self.log('configure.log')}")

    def compile(self, targets, log_name):
        cmd = ["cmake", "--build", self.build, f"-j{self.jobs}", "--target", *targets]
        status, seconds = run_logged(cmd, self.log(log_name), self.tree, self.env)
        return status == 0, seconds

    def test_command(self, program):
        cmd = [os.path.join(self.build, "bin", program), "--gtest_brief=1"]
        if self.skip_filter.get(program):
            cmd.append("--gtest_filter=-" + ":".join(self.skip_filter[program]))
        return cmd

    def test_cwd(self, program):
        # Where ctest would run them.
        return os.path.join(self.build, "tests", "e2e" if program == "e2e_tests" else "")

    def baseline(self, programs):
        """Runs every program once on the unmutated tree. A test that already fails
        there says nothing about a mutant, so it is left out of the mutants' runs."""
        for program in programs:
            log = self.log(f"baseline-{program}.log")
            status, seconds = run_logged(self.test_command(program), log, self.test_cwd(program),
                                         self.env, self.timeout)
            if status == 0:
                self.say(f"  baseline {program}: passed ({seconds:.1f} s)")
                continue
            failures = failed_tests(log)
            if status is None or not failures:
                raise SystemExit(f"mutate: {program} does not pass on the unmutated tree "
                                 f"({'timed out' if status is None else f'exit {status}'}), see {log}")
            self.skip_filter[program] = failures
            self.say(f"  baseline {program}: {len(failures)} test(s) failing before any mutant, "
                     f"left out of the mutants' runs: {', '.join(failures)}")

    def run_tests(self, programs, index):
        """('killed' | 'survived', detail, seconds)."""
        started = time.monotonic()
        for program in programs:
            left = self.timeout - (time.monotonic() - started)
            if left <= 0:
                return "killed", "timed out", time.monotonic() - started
            cmd = self.test_command(program) + ["--gtest_fail_fast"]
            log = self.log(f"mutant-{index}-{program}.log")
            status, _ = run_logged(cmd, log, self.test_cwd(program), self.env, left)
            if status is None:
                return "killed", f"{program} timed out", time.monotonic() - started
            if status != 0:
                names = failed_tests(log)
                why = ", ".join(names[:3]) if names else f"exit status {status}"
                return "killed", f"{program}: {why}", time.monotonic() - started
        return "survived", ", ".join(programs) + " passed", time.monotonic() - started


def report_line(mutant, outcome):
    return f"{mutant.path}:{mutant.line}  {mutant.operator}  {mutant.original} -> {mutant.mutated}  {outcome}"


def selected(mutants, args):
    """(number, mutant) of the draw that --start and --only leave: a run cut short goes on
    where it stopped, or chosen mutants are measured again, with the same draw."""
    return [(index, m) for index, m in enumerate(mutants, 1)
            if index >= args.start and (not args.only or index in args.only)]


def list_only(chosen, header):
    print(header)
    for _, mutant in chosen:
        print(report_line(mutant, "").rstrip())


def run_mutants(args, repo, rev, header, report_path):
    logs_path = os.path.splitext(report_path)[0] + ".logs"
    workdir = tempfile.mkdtemp(prefix="orvik-mutate-", dir=args.workdir)
    # The end-to-end tests start the built uninstaller as an ordinary user, who
    # must be able to reach it: mkdtemp's folder is the owner's alone.
    os.chmod(workdir, 0o755)
    tree = os.path.join(workdir, "tree")
    lines = []
    added = False

    def say(line):
        lines.append(line)
        print(line, flush=True)
    try:
        git(repo, "worktree", "add", "--detach", "--quiet", tree, rev)
        added = True
        sources = sources_at(repo, rev)
        mutants = choose(candidates(sources), args.count, args.seed)
        chosen = selected(mutants, args)
        by_path = {s.path: s for s in sources}
        session = Session(tree, workdir, args.timeout, args.jobs, say)
        say(header)
        print(f"mutate: private copy in {tree}", flush=True)
        session.configure()
        needed = []
        for _, mutant in chosen:
            for program in programs_for(mutant.path, tree):
                if program not in needed:
                    needed.append(program)
        targets = needed or ["all"]
        ok, seconds = session.compile(targets, "build-base.log")
        if not ok:
            raise SystemExit(f"mutate: {rev[:12]} does not build, see {session.log('build-base.log')}")
        say(f"  unmutated build: {seconds:.1f} s")
        session.baseline(needed)

        killed = built = 0
        for index, mutant in chosen:
            src = by_path[mutant.path]
            path = os.path.join(tree, mutant.path)
            programs = programs_for(mutant.path, tree)
            with open(path, "w", encoding="utf-8", newline="") as fh:
                fh.write(mutant.apply(src.text))
            try:
                ok, build_s = session.compile(programs or ["all"], f"mutant-{index}-build.log")
                if not ok:
                    outcome, detail, test_s = "did not build", last_error(session.log(f"mutant-{index}-build.log")), 0.0
                elif not programs:
                    outcome, detail, test_s = "survived", "no test program links it", 0.0
                    built += 1
                else:
                    built += 1
                    outcome, detail, test_s = session.run_tests(programs, index)
                    killed += outcome == "killed"
            finally:
                with open(path, "w", encoding="utf-8", newline="") as fh:
                    fh.write(src.text)
            say(report_line(mutant, outcome))
            say(f"    [{index}/{len(mutants)}] build {build_s:.1f} s, tests {test_s:.1f} s: {shown(detail, 160)}")
        score = f"killed/built = {killed}/{built} = {100.0 * killed / built:.0f}%" if built else \
            "killed/built = 0/0 (no mutant built)"
        say(score)
    except KeyboardInterrupt:
        say("mutate: interrupted")
        raise
    except SystemExit as stop:
        say(str(stop))
        raise
    finally:
        keep_logs(workdir, logs_path)
        if added:
            subprocess.run(["git", "-C", repo, "worktree", "remove", "--force", tree],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(workdir, ignore_errors=True)
        if added:
            subprocess.run(["git", "-C", repo, "worktree", "prune"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(report_path, "w") as fh:
            fh.write("\n".join(lines) + "\n")
        print(f"mutate: report in {report_path}, build and test output in {logs_path}/", flush=True)


def keep_logs(workdir, logs_path):
    """The build and test output outlives the copy, beside the report."""
    shutil.rmtree(logs_path, ignore_errors=True)
    os.makedirs(logs_path, exist_ok=True)
    for name in sorted(os.listdir(workdir)):
        if name.endswith(".log"):
            shutil.copy2(os.path.join(workdir, name), logs_path)


def interrupted(signum, _frame):
    raise KeyboardInterrupt(f"signal {signum}")


ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     epilog="operators: " + ", ".join(OPERATORS))
    parser.add_argument("--count", type=int, default=30, help="how many mutants (default 30)")
    parser.add_argument("--seed", type=int, default=1, help="the sampling seed (default 1)")
    parser.add_argument("--list-only", action="store_true", help="show the chosen mutants, build nothing")
    parser.add_argument("--report", help="where the report goes (default /tmp/mutate-SEED-COUNT.txt)")
    parser.add_argument("--rev", default="HEAD", help="the commit to mutate (default HEAD)")
    parser.add_argument("--timeout", type=int, default=DEFAULT_TIMEOUT,
                        help=f"seconds the tests of one mutant may take (default {DEFAULT_TIMEOUT})")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    parser.add_argument("--start", type=int, default=1,
                        help="the first mutant to run, to finish a run cut short (default 1)")
    parser.add_argument("--only", type=lambda text: {int(n) for n in text.split(",")},
                        help="only these mutants of the draw, by number (e.g. 3,17,40)")
    parser.add_argument("--workdir", help="where the private copy goes (default the temporary folder)")
    args = parser.parse_args()
    if args.count < 1:
        parser.error("--count must be at least 1")
    if not 1 <= args.start <= args.count:
        parser.error("--start must be between 1 and --count")

    repo = ROOT
    rev = git(repo, "rev-parse", "--verify", args.rev + "^{commit}").strip()
    header = f"mutants of {rev[:12]}, seed {args.seed}, count {args.count}"
    if args.start > 1:
        header += f", from mutant {args.start}"
    if args.only:
        header += ", only mutants " + ",".join(str(n) for n in sorted(args.only))
    if args.list_only:
        sources = sources_at(repo, rev)
        everything = candidates(sources)
        chosen = selected(choose(everything, args.count, args.seed), args)
        list_only(chosen, f"{header} (from {len(everything)} candidates in {len(sources)} files)")
        return 0

    report_path = args.report or f"/tmp/mutate-{args.seed}-{args.count}.txt"
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, interrupted)
    try:
        run_mutants(args, repo, rev, header, report_path)
    except KeyboardInterrupt:
        print("mutate: interrupted; the private copy is removed", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
