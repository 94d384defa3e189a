#!/usr/bin/env python3
"""Checks the links of the documentation pages.

Every relative link and image in README.md, CONTRIBUTING.md, bench/README.md and docs/*.md must
point to a file or folder that exists, and every #anchor (in the same page or another) must be
the anchor of a heading of that page, by the rules GitHub uses to make them. Links to http(s)
and mailto are not followed. README.md must also stay short, and its first two code blocks must
be the two set-up commands.

Usage: check_links.py [ROOT]   (ROOT: the repository, by default two folders above this one)
"""
import re
import sys
import unicodedata
from pathlib import Path

README_MOST_LINES = 200
SETUP_COMMANDS = ["bash tools/start.sh", "bash tools/test.sh"]

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
# A code span: a run of backticks to the next run of the same length, within one paragraph.
CODE_SPAN = re.compile(r"(?<!`)(`+)(?!`)((?:(?!\n[ \t]*\n)[\s\S])+?)(?<!`)\1(?!`)")
# [text](target "title") or ![alt](<target>): the target is the first word, or <…>.
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^\s()]*)(?:\s+[^)]*)?\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:[ \t]*(<[^>]*>|\S+)", re.MULTILINE)
HTML_TARGET = re.compile(r"<(?:img|a)\b[^>]*?\b(?:src|href)=\"([^\"]*)\"", re.IGNORECASE)
EXTERNAL = re.compile(r"^[a-z][a-z0-9+.-]*:", re.IGNORECASE)
LINE_ANCHOR = re.compile(r"^L\d+(-L\d+)?$")


def lines_outside_code(text):
    """Yields (line number, line) for each line that is not inside a fenced code block."""
    fence = None
    for number, line in enumerate(text.split("\n"), 1):
        match = FENCE.match(line)
        if fence:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence):
                fence = None
            continue
        if match:
            fence = match.group(1)
            continue
        yield number, line


def code_blocks(text):
    """The contents of the fenced code blocks, in order."""
    blocks, fence, lines = [], None, []
    for line in text.split("\n"):
        match = FENCE.match(line)
        if fence:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence):
                blocks.append("\n".join(lines).strip())
                fence, lines = None, []
            else:
                lines.append(line)
        elif match:
            fence = match.group(1)
    return blocks


def plain_heading_text(heading):
    """The text GitHub renders for a heading's source: links and images by their text, code
    spans by their content, without emphasis marks or HTML tags."""
    text = CODE_SPAN.sub(lambda m: m.group(2).strip(), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"<[^>]+>", "", text)
    return text.replace("*", "")


def slug(heading):
    """GitHub's anchor of a heading: lower case; letters, marks, digits, '-' and '_' kept (CJK
    characters included), other punctuation and symbols removed; each space becomes '-'."""
    kept = []
    for char in plain_heading_text(heading).strip().lower():
        category = unicodedata.category(char)
        if char in " -" or category[0] in "LMN" or category == "Pc":
            kept.append("-" if char == " " else char)
    return "".join(kept)


def anchors_of(text):
    """Every heading's anchor; a repeated one gets -1, -2 and so on, as on GitHub."""
    taken = {}
    for _, line in lines_outside_code(text):
        match = HEADING.match(line)
        if not match:
            continue
        base = anchor = slug(match.group(2))
        while anchor in taken:
            taken[base] += 1
            anchor = f"{base}-{taken[base]}"
        taken[anchor] = 0
    return set(taken)


def targets_of(text):
    """(line number, target) of every link, image and link reference outside code; a link may
    wrap over lines."""
    lines = text.split("\n")
    outside = dict(lines_outside_code(text))
    prose = "\n".join(outside.get(number, "") for number in range(1, len(lines) + 1))
    # Code spans are not links; blank them so that a `[x](y)` inside one is not read.
    prose = CODE_SPAN.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), prose)
    for pattern in (INLINE_LINK, REFERENCE, HTML_TARGET):
        for match in pattern.finditer(prose):
            target = match.group(1)
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            yield prose.count("\n", 0, match.start(1)) + 1, target


def check(root):
    pages = [root / "README.md", root / "CONTRIBUTING.md", root / "bench" / "README.md"]
    pages += sorted((root / "docs").glob("*.md"))
    problems = []
    anchor_cache = {}

    def anchors(path):
        if path not in anchor_cache:
            anchor_cache[path] = anchors_of(path.read_text(encoding="utf-8"))
        return anchor_cache[path]

    for page in pages:
        name = page.relative_to(root)
        if not page.is_file():
            problems.append(f"{name}: missing")
            continue
        text = page.read_text(encoding="utf-8")
        for number, target in targets_of(text):
            where = f"{name}:{number}: {target}"
            if not target:
                problems.append(f"{where}: empty link")
                continue
            if EXTERNAL.match(target):
                continue
            path_part, _, anchor = target.partition("#")
            destination = (page.parent / path_part).resolve() if path_part else page.resolve()
            if not destination.exists():
                problems.append(f"{where}: no such file")
                continue
            if root.resolve() not in (destination, *destination.parents):
                problems.append(f"{where}: outside the repository")
                continue
            if not anchor:
                continue
            if destination.suffix != ".md":
                if not (destination.is_file() and LINE_ANCHOR.match(anchor)):
                    problems.append(f"{where}: an anchor into a file that has no headings")
            elif anchor not in anchors(destination):
                problems.append(f"{where}: no heading with the anchor #{anchor}")

    readme = (root / "README.md").read_text(encoding="utf-8")
    lines = len(readme.splitlines())
    if lines >= README_MOST_LINES:
        problems.append(f"README.md: {lines} lines; the front page stays under "
                        f"{README_MOST_LINES}, the rest goes into docs/")
    first_blocks = code_blocks(readme)[:len(SETUP_COMMANDS)]
    if first_blocks != SETUP_COMMANDS:
        problems.append(f"README.md: the first code blocks are {first_blocks}, "
                        f"not the set-up commands {SETUP_COMMANDS}")
    return len(pages), problems


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2])
    count, problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} problem(s) in the links of {count} pages")
        return 1
    print(f"every link of {count} pages resolves")
    return 0


if __name__ == "__main__":
    sys.exit(main())
