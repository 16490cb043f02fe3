"""Single, realistic faults for C++ source files: the mutant generator of
scripts/mutate.sh.

Each mutant changes one line of one file in one way a developer could plausibly
get wrong:

  edge       a comparison moves its edge or flips (<= <, >= >, == !=, and back)
  logic      && and || trade places
  constant   a named constant moves by one step (an integer by 1, a decimal
             literal by one unit of its last digit)
  swap       two neighbouring statements that depend on each other trade places
  drop       an update of state is left out
  buffer     one of a pair of look-alike buffers is read or written instead of
             the other (this frame's entrance result for the last one, ...)
  jump       break and continue trade places

Lines that only log, comments, preprocessor lines and string literals are never
touched: a fault there changes no decision. Template brackets are told apart
from comparisons by the spaces that the code style puts around binary
operators.

The draw is seeded: the same seed, files and counts give the same mutants.
"""

import random
import re
from dataclasses import dataclass

# Pairs of names that stand for look-alike buffers or values in the engine
# state: reading the wrong one of a pair is a fault that compiles.
BUFFER_PAIRS = [
    ("enResult", "lastEnResult"),
    ("segMap", "lastSegMap"),
    ("curHist", "lastHist"),
    ("lastAeScore", "lastAeThisScore"),
    ("lastAecLux", "refAecLux"),
    ("isStable", "lastIsStable"),
    ("grayThumb", "nccRefThumb"),
]

# Comparison and logic operators as clang-format writes them (spaced), with
# their realistic replacements.
EDGE_REPLACEMENTS = {
    " <= ": [" < "],
    " >= ": [" > "],
    " < ": [" <= "],
    " > ": [" >= "],
    " == ": [" != "],
    " != ": [" == "],
}
LOGIC_REPLACEMENTS = {" && ": [" || "], " || ": [" && "]}

# Lines with these words only report; mutating them changes no decision.
LOG_WORDS = ("LOG", "printf", "fprintf", "puts", "std::cerr", "std::cout", "snprintf")

# A named constant: "constexpr <type> kName = <literal>;"
CONSTANT_RE = re.compile(
    r"^(\s*(?:static\s+)?constexpr\s+[\w:<>]+\s+k\w+\s*=\s*)(-?\d+(?:\.\d+)?(?:e-?\d+)?)([fFuUlL]*)(;.*)$")
# An update of state: an lvalue (no type in front), then = += -= *= /=, or ++ / --.
ASSIGNED_RE = re.compile(r"^\s*([A-Za-z_][\w.\->\[\]]*)\s*(?:=|\+=|-=|\*=|/=)[^=]")
INCREMENT_RE = re.compile(r"^\s*(?:\+\+|--)([A-Za-z_][\w.\->\[\]]*)\s*;|^\s*([A-Za-z_][\w.\->\[\]]*)(?:\+\+|--)\s*;")
# A declaration up to the declared name: "float lastAeScore" (then = or ;).
DECLARED_RE = re.compile(r"^\s*(?:const\s+)?[\w:<>*&]+\s+[*&]?\w+=$")
# Words that start a declaration rather than an update.
DECLARATION_WORDS = ("const ", "auto ", "auto&", "int ", "int32_t ", "int64_t ", "uint", "float ",
                     "double ", "bool ", "size_t ", "char ", "std::", "return", "static ",
                     "constexpr ", "using ", "typedef ", "struct ", "class ", "enum ", "case ",
                     "default", "namespace", "template", "if ", "if(", "for ", "while ", "else",
                     "switch", "do ", "try", "catch", "throw", "goto", "delete ", "new ")


@dataclass(frozen=True)
class Mutant:
    path: str      # file, relative to the source root
    line: int      # 1-based
    kind: str      # edge, logic, constant, swap, drop, buffer, jump
    before: str    # the line(s) as they were
    after: str     # the line(s) as the mutant has them

    def describe(self):
        first = self.before.splitlines()[0].strip()
        changed = self.after.splitlines()[0].strip() if self.after.strip() else "(dropped)"
        return "%s:%d %s: %s  ->  %s" % (self.path, self.line, self.kind, first, changed)

    def key(self):
        """What identifies the mutant across draws (for the list of equivalent ones)."""
        def one_line(text):
            # A swap spans two lines: the key stays on one, as equivalent.txt needs.
            return " \\n ".join(part.strip() for part in text.strip().split("\n"))
        return "%s|%s|%s|%s" % (self.path, self.kind, one_line(self.before), one_line(self.after))


def code_part(line):
    """The line with string and character literals blanked and any // comment cut,
    so that operators inside them are never matched. Positions are kept."""
    out = []
    quote = None
    i = 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[:len(line)]


def is_skipped(line):
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*")):
        return True
    if "static_assert" in stripped or "template <" in stripped:
        return True
    return any(word in line for word in LOG_WORDS)


def bump_literal(literal):
    """One step up from a numeric literal: 150 -> 151, 0.73 -> 0.74, 1e-6 -> 2e-6."""
    if "e" in literal:
        mantissa, exponent = literal.split("e")
        return bump_literal(mantissa) + "e" + exponent
    if "." in literal:
        whole, fraction = literal.split(".")
        if fraction.strip("0"):
            digits = len(fraction.rstrip("0"))
            step = 10 ** -digits
            value = float(literal) + step
            return "%.*f" % (digits, value)
        return str(int(whole) + 1) + "." + fraction
    return str(int(literal) + 1)


def line_mutants(path, number, line):
    """Mutants that change this one line."""
    if is_skipped(line):
        return []
    found = []
    code = code_part(line)
    # Trading && for || in a chain of several would need brackets to compile
    # (warnings are errors): only single-operator conditions are flipped.
    tables = [(EDGE_REPLACEMENTS, "edge")]
    if code.count(" && ") + code.count(" || ") == 1:
        tables.append((LOGIC_REPLACEMENTS, "logic"))
    for table, kind in tables:
        for operator, replacements in table.items():
            for match in re.finditer(re.escape(operator), code):
                for replacement in replacements:
                    at = match.start()
                    mutated = line[:at] + replacement + line[at + len(operator):]
                    found.append(Mutant(path, number, kind, line, mutated))
    constant = CONSTANT_RE.match(line)
    if constant:
        mutated = constant.group(1) + bump_literal(constant.group(2)) + constant.group(3) + \
            constant.group(4)
        found.append(Mutant(path, number, "constant", line, mutated))
    for first, second in BUFFER_PAIRS:
        for old, new in ((first, second), (second, first)):
            for match in re.finditer(r"\b%s\b" % old, code):
                if DECLARED_RE.match(code[:match.end()] + "="):
                    continue  # a member's own declaration: renaming it does not compile
                mutated = line[:match.start()] + new + line[match.end():]
                found.append(Mutant(path, number, "buffer", line, mutated))
    for old, new in (("break;", "continue;"), ("continue;", "break;")):
        if code.strip() == old:
            found.append(Mutant(path, number, "jump", line, line.replace(old, new)))
    if is_update(code):
        found.append(Mutant(path, number, "drop", line, ""))
    return found


def is_update(code):
    """A whole statement on one line that changes state and declares nothing."""
    stripped = code.strip()
    if not stripped.endswith(";") or stripped.startswith(DECLARATION_WORDS):
        return False
    if stripped.count(";") != 1 or "{" in stripped or "}" in stripped:
        return False
    return bool(ASSIGNED_RE.match(code) or INCREMENT_RE.match(code))


def assigned_name(code):
    """The lvalue a statement updates, index included: box[1] and box[2] are
    different places, so updating one does not depend on the other."""
    match = ASSIGNED_RE.match(code) or INCREMENT_RE.match(code)
    if not match:
        return None
    return next(group for group in match.groups() if group)


def reads(code, name):
    """True when the statement `code` reads `name` (a variable or an indexed
    place) on the right of its assignment, or in its index expressions."""
    if not name:
        return False
    right = code.split("=", 1)[-1] if ASSIGNED_RE.match(code) else code
    pattern = r"(?<![\w.>])%s(?!\w)" % re.escape(name)
    if "[" not in name:
        # A whole array or variable: any indexed use of it counts as well.
        pattern = r"(?<![\w.>])%s\b" % re.escape(name)
    return re.search(pattern, right) is not None


def swap_mutants(path, lines):
    """Neighbouring updates where one reads what the other writes."""
    found = []
    for i in range(len(lines) - 1):
        first, second = lines[i], lines[i + 1]
        if is_skipped(first) or is_skipped(second):
            continue
        a, b = code_part(first), code_part(second)
        if not (is_update(a) and is_update(b)):
            continue
        indent_a = len(first) - len(first.lstrip())
        indent_b = len(second) - len(second.lstrip())
        if indent_a != indent_b:
            continue
        name_a, name_b = assigned_name(a), assigned_name(b)
        depends = reads(b, name_a) or reads(a, name_b)
        if depends:
            found.append(Mutant(path, i + 1, "swap", first + "\n" + second,
                                second + "\n" + first))
    return found


def file_mutants(path, text):
    """Every mutant of one file, in line order."""
    lines = text.split("\n")
    found = []
    for number, line in enumerate(lines, start=1):
        found.extend(line_mutants(path, number, line))
    found.extend(swap_mutants(path, lines))
    found.sort(key=lambda m: (m.line, m.kind, m.after))
    return found


def apply(text, mutant):
    """The file's text with the mutant in place."""
    lines = text.split("\n")
    count = len(mutant.before.split("\n"))
    start = mutant.line - 1
    if "\n".join(lines[start:start + count]) != mutant.before:
        raise ValueError("the file no longer holds the mutated line(s): " + mutant.describe())
    replacement = mutant.after.split("\n") if mutant.after else ["// mutant: line dropped"]
    return "\n".join(lines[:start] + replacement + lines[start + count:])


def draw(candidates, count, seed):
    """`count` mutants chosen at random (seeded) from `candidates`, spread over
    the kinds so that one frequent kind does not crowd out the others."""
    rng = random.Random(seed)
    by_kind = {}
    for mutant in candidates:
        by_kind.setdefault(mutant.kind, []).append(mutant)
    for group in by_kind.values():
        rng.shuffle(group)
    chosen = []
    kinds = sorted(by_kind)
    while len(chosen) < count and any(by_kind[k] for k in kinds):
        for kind in kinds:
            if by_kind[kind] and len(chosen) < count:
                chosen.append(by_kind[kind].pop())
    return chosen
