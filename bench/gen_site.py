#!/usr/bin/env python3
"""Deterministic inputs for the benchmarks: a web site, one big file, a file
with many definitions, and a wide tree of tiny files.

Every input is written twice where the syntax differs: the `qf` variant (read by
qfc, cpp -traditional-cpp and gpp, which share the directive syntax used here)
and the `m4` variant (GNU m4 -P). Both variants define, test and include the
same things, so every tool does the same work. The text avoids what the tools
treat differently: quotes around symbols, apostrophes, '|', '#', brackets,
comments and a symbol directly followed by '('.
"""

import argparse
import os
import random

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
         "tempor incididunt ut labore et dolore magna aliqua enim ad minim veniam "
         "quis nostrud exercitation ullamco laboris nisi aliquip ex ea commodo "
         "consequat duis aute irure in reprehenderit voluptate velit esse cillum "
         "fugiat nulla pariatur excepteur sint occaecat cupidatat non proident "
         "sunt culpa qui officia deserunt mollit anim id est laborum").split()
FEATURES = 20


def words(rng, low, high):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(low, high)))


# A source is a list of items: ("text", line), ("define", name, value or None),
# ("include", name), ("ifdef", name, then_items, else_items),
# ("ifndef", name, items).

def render_qf(items, out):
    for item in items:
        kind = item[0]
        if kind == "text":
            out.append(item[1])
        elif kind == "define":
            out.append("#define " + item[1] + ("" if item[2] is None else " " + item[2]))
        elif kind == "include":
            out.append('#include "%s.inc"' % item[1])
        elif kind == "ifdef":
            out.append("#ifdef " + item[1])
            render_qf(item[2], out)
            if item[3]:
                out.append("#else")
                render_qf(item[3], out)
            out.append("#endif")
        elif kind == "ifndef":
            out.append("#ifndef " + item[1])
            render_qf(item[2], out)
            out.append("#endif")
    return out


def render_m4(items, out):
    for item in items:
        kind = item[0]
        if kind == "text":
            out.append(item[1])
        elif kind == "define":
            value = "" if item[2] is None else ",[%s]" % item[2]
            out.append("m4_define([%s]%s)m4_dnl" % (item[1], value))
        elif kind == "include":
            out.append("m4_include([%s.m4])m4_dnl" % item[1])
        elif kind == "ifdef":
            out.append("m4_ifdef([%s],[m4_dnl" % item[1])
            render_m4(item[2], out)
            out.append("],[m4_dnl")
            render_m4(item[3], out)
            out.append("])m4_dnl")
        elif kind == "ifndef":
            out.append("m4_ifdef([%s],,[m4_dnl" % item[1])
            render_m4(item[2], out)
            out.append("])m4_dnl")
    return out


def write_lines(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_source(root, rel, items, m4_prologue=True):
    """Writes root/qf/rel.src (or .inc) and root/m4/rel.m4."""
    qf_ext = ".inc" if rel.startswith("inc/") else ".src"
    write_lines(os.path.join(root, "qf", rel + qf_ext), render_qf(items, []))
    m4 = ["m4_changequote([,])m4_dnl"] if m4_prologue else []
    write_lines(os.path.join(root, "m4", rel + ".m4"), render_m4(items, m4))


def global_defines(rng, count):
    items = [("define", "SITE_NAME", "Example Works"),
             ("define", "SITE_TAGLINE", "SITE_NAME - " + words(rng, 2, 4))]
    for k in range(FEATURES):
        if k % 2 == 0:
            items.append(("define", "FEAT_%02d" % k, None))
    for n in range(max(0, count - len(items))):
        value = words(rng, 1, 4)
        if n > 10 and rng.random() < 0.2:
            value += " G%03d" % rng.randrange(n)
        items.append(("define", "G%03d" % n, value))
    return items


def guarded(name, items):
    return [("ifndef", name, [("define", name, None)] + items)]


def symbols(rng, defines):
    return "G%03d" % rng.randrange(defines)


def body_line(rng, defines, page):
    pick = rng.random()
    if pick < 0.30:
        return "<p>%s %s %s.</p>" % (words(rng, 2, 5), symbols(rng, defines), words(rng, 2, 5))
    if pick < 0.50:
        return '<li><a href="/p%05d.html">%s</a> %s</li>' % (
            rng.randrange(page + 1), symbols(rng, defines), words(rng, 1, 4))
    if pick < 0.65:
        return "<tr><td>%s</td><td>%d</td><td>%s</td></tr>" % (
            symbols(rng, defines), rng.randrange(100000), words(rng, 1, 4))
    if pick < 0.75:
        return "  <span>PAGE_TITLE</span> %s" % words(rng, 2, 5)
    return words(rng, 5, 11)


def page_items(rng, page, lines, defines):
    items = [("define", "PAGE_TITLE", "%s %d" % (words(rng, 1, 2).title(), page)),
             ("define", "PAGE_ID", "p%05d" % page),
             ("include", "header"), ("include", "menu"),
             ("text", "<main><h1>PAGE_TITLE</h1>")]
    body = max(0, lines - 31)  # the rest are directives and fixed lines
    blocks = 3
    for b in range(blocks):
        for _ in range(body // (blocks + 1)):
            items.append(("text", body_line(rng, defines, page)))
        then_part = [("text", body_line(rng, defines, page)) for _ in range(3)]
        else_part = [("text", body_line(rng, defines, page)) for _ in range(2)]
        items.append(("ifdef", "FEAT_%02d" % rng.randrange(FEATURES), then_part, else_part))
    for _ in range(body - (body // (blocks + 1)) * blocks):
        items.append(("text", body_line(rng, defines, page)))
    items += [("text", "</main>"), ("include", "footer")]
    return items


def include_items(rng, defines):
    header = [("include", "defs"),
              ("text", "<!DOCTYPE html>"),
              ("text", '<html lang="en">'),
              ("text", "<head><title>PAGE_TITLE - SITE_NAME</title>"),
              ("text", '<meta charset="utf-8">')]
    header += [("text", '<link rel="stylesheet" href="/s%d.css">' % k) for k in range(4)]
    header += [("text", "</head>"), ("text", '<body class="site">'),
               ("text", "<header>SITE_TAGLINE</header>")]
    menu = [("include", "defs"), ("text", "<nav><ul>")]
    menu += [("text", '<li><a href="/m%d.html">%s</a></li>' % (k, symbols(rng, defines)))
             for k in range(12)]
    menu += [("ifdef", "FEAT_00", [("text", "<li>SITE_NAME extra</li>")], []),
             ("text", "</ul></nav>")]
    footer = [("include", "defs"), ("text", "<footer>")]
    footer += [("text", "<p>%s %s</p>" % (symbols(rng, defines), words(rng, 2, 5)))
               for k in range(10)]
    footer += [("text", "<p>SITE_NAME PAGE_ID</p>"), ("text", "</footer></body></html>")]
    return {"header": guarded("HEADER_INC", header), "menu": guarded("MENU_INC", menu),
            "footer": guarded("FOOTER_INC", footer)}


def page_path(page, pages, depth):
    """Spreads pages over a tree `depth` directories deep, ~16 pages a leaf."""
    parts = []
    leaf = page // 16
    for level in range(depth):
        parts.append("d%d_%02d" % (level, leaf % 8))
        leaf //= 8
    return "/".join(parts + ["p%05d" % page])


def make_site(args):
    rng = random.Random(args.seed)
    defines = global_defines(rng, args.defines)
    names = sum(1 for d in defines if d[2] is not None and d[1].startswith("G"))
    write_source(args.out, "inc/defs", guarded("DEFS_INC", defines), m4_prologue=False)
    for name, items in include_items(rng, names).items():
        write_source(args.out, "inc/" + name, items, m4_prologue=False)
    paths = []
    for page in range(args.pages):
        rel = page_path(page, args.pages, args.depth)
        write_source(args.out, rel, page_items(rng, page, args.lines, names))
        paths.append(rel)
    write_lines(os.path.join(args.out, "pages.txt"), paths)


def make_big(args):
    """One big file: a few definitions, then HTML-like lines that each use
    several of them."""
    rng = random.Random(args.seed)
    defines = [("define", "ROW_CLASS", "row"), ("define", "SITE_NAME", "Example Works"),
               ("define", "CELL", "td"), ("define", "PRICE", "EUR")]
    defines += [("define", "K%02d" % k, words(rng, 1, 2)) for k in range(32)]
    items = list(defines)
    templates = ['<tr class="x"><CELL>K%02d</CELL><CELL>%d PRICE</CELL><CELL>%s</CELL></tr>',
                 '<p class="r">ROW_CLASS SITE_NAME %s K%02d %d</p>',
                 '<li><a href="/i%d.html">K%02d</a> %s</li>']
    for n in range(args.lines):
        t = n % 3
        if t == 0:
            line = templates[0] % (rng.randrange(32), rng.randrange(10**6), words(rng, 1, 2))
        elif t == 1:
            line = templates[1] % (words(rng, 1, 2), rng.randrange(32), n)
        else:
            line = templates[2] % (n, rng.randrange(32), words(rng, 1, 2))
        items.append(("text", line))
    write_source(args.out, "big", items)


def make_defs(args):
    """Many distinct definitions, then text that uses them: the text's size
    is the definitions' count times --uses."""
    rng = random.Random(args.seed)
    items = [("define", "D%06d" % n, "v%d" % n) for n in range(args.count)]
    for n in range(args.count * args.uses // 4):
        picks = " ".join("D%06d" % rng.randrange(args.count) for _ in range(4))
        items.append(("text", "<p>%s</p>" % picks))
    write_source(args.out, "defs", items)


def make_tree(args):
    """A wide tree of tiny files; only --matching of them end in .src."""
    for n in range(args.files):
        directory = os.path.join(args.out, "t%03d" % (n // 1000))
        if n % 1000 == 0:
            os.makedirs(directory, exist_ok=True)
        ext = ".src" if n < args.matching else ".txt"
        with open(os.path.join(directory, "f%06d%s" % (n, ext)), "w") as f:
            f.write("x\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="mode", required=True)
    site = sub.add_parser("site", help="a generated web site")
    site.add_argument("--pages", type=int, default=2000)
    site.add_argument("--lines", type=int, default=150, help="lines per page, about")
    site.add_argument("--depth", type=int, default=2, help="directory levels")
    site.add_argument("--defines", type=int, default=200, help="global definitions")
    big = sub.add_parser("big", help="one big file")
    big.add_argument("--lines", type=int, default=1700000)
    defs = sub.add_parser("defs", help="many definitions, then text using them")
    defs.add_argument("--count", type=int, default=100000)
    defs.add_argument("--uses", type=int, default=4, help="symbol uses per definition")
    tree = sub.add_parser("tree", help="a wide tree of tiny files")
    tree.add_argument("--files", type=int, default=100000)
    tree.add_argument("--matching", type=int, default=1)
    for p in (site, big, defs, tree):
        p.add_argument("--seed", type=int, default=1)
        p.add_argument("--out", required=True)
    args = parser.parse_args()
    {"site": make_site, "big": make_big, "defs": make_defs, "tree": make_tree}[args.mode](args)


if __name__ == "__main__":
    main()
