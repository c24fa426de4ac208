#!/usr/bin/env python3
"""Writes a site of PAGES pages into DIR: pages in sections of 100, each
including a shared header and footer, defining symbols and using them."""
import os
import sys


def main():
    directory, pages = sys.argv[1], int(sys.argv[2])
    os.makedirs(os.path.join(directory, "parts"), exist_ok=True)
    with open(os.path.join(directory, "parts", "header.inc"), "w") as f:
        f.write("#define SITE Example site\n<html><head><title>TITLE - SITE</title></head>\n"
                "<body><h1>TITLE</h1>\n")
    with open(os.path.join(directory, "parts", "footer.inc"), "w") as f:
        f.write("<p>_INFILENAME_ compiled _DAY_ _MONTH_ _YEAR_</p></body></html>\n")
    for n in range(pages):
        section = os.path.join(directory, "s%02d" % (n // 100))
        os.makedirs(section, exist_ok=True)
        body = "".join("<p>Paragraph %d of TITLE, about TOPIC and more TOPIC.</p>\n" % p
                       for p in range(40))
        with open(os.path.join(section, "p%04d.src" % n), "w") as f:
            f.write('#define TITLE Page %d\n#define TOPIC topic %d\n'
                    '#include "..\\parts\\header.inc"\n%s'
                    '#ifdef TOPIC\n<p>TOPIC</p>\n#endif\n'
                    '#include "..\\parts\\footer.inc"\n' % (n, n % 17, body))


if __name__ == "__main__":
    main()
