#!/usr/bin/env python3
"""Writes documents whose colour pages are known, as PostScript written here
and as PDF converted from it by Ghostscript's ps2pdf, into FOLDER:

  make_corpus.py FOLDER

and prints one line for each document: its path and its pages, 1 for a
colour page and 0 for a mono one, in page order ("FOLDER/logo.pdf
000000100000"). The ink meter's tests and the CUPS accounting test print
them and hold their counts to these lines."""
import os
import subprocess
import sys

A4 = (595, 842)
A3 = (842, 1191)
TEXT = "/Helvetica findfont 11 scalefont setfont\n"


def lines_of_text(page, black="0 setgray"):
    """A page of text in the given black."""
    out = [black]
    for row in range(40):
        out.append("72 %d moveto (Page %d, line %d: the quick brown fox jumps over "
                   "the lazy dog.) show" % (760 - row * 17, page, row + 1))
    return "\n".join(out)


def grey_image(tint):
    """A 64 x 64 RGB photograph of greys, 480 pt square, its red raised by
    tint levels in 255."""
    data = []
    for y in range(64):
        row = []
        for x in range(64):
            level = 40 + (x * 3 + y * 2) % 170
            row.append("%02x%02x%02x" % (min(level + tint, 255), level, level))
        data.append("".join(row))
    return ("gsave 57 180 translate 480 480 scale\n"
            "64 64 8 [64 0 0 -64 0 64] currentfile /ASCIIHexDecode filter false 3 colorimage\n"
            + "\n".join(data) + ">\ngrestore")


LOGO = "gsave 1 0 0 setrgbcolor 480 740 72 72 rectfill grestore"  # 1 inch square


def colour_page(page):
    return ("0 0.4 0.8 setrgbcolor 72 400 450 300 rectfill\n"
            "0.9 0.6 0.1 setrgbcolor 72 120 450 200 rectfill\n" + TEXT + lines_of_text(page))


def grey_page(page):
    return "0.6 setgray 72 400 450 300 rectfill\n" + TEXT + lines_of_text(page)


def documents():
    """name -> list of (page size, PostScript of the page, is colour)."""
    return {
        "mono": [(A4, grey_page(p), False) for p in range(1, 4)],
        "colour": [(A4, colour_page(p), True) for p in range(1, 4)],
        "alternate": [(A4, colour_page(p) if p % 2 else grey_page(p), p % 2 == 1)
                      for p in range(1, 7)],
        "logo": [(A4, TEXT + lines_of_text(p) + ("\n" + LOGO if p == 7 else ""), p == 7)
                 for p in range(1, 13)],
        "photo": [(A4, grey_image(0), False), (A4, grey_image(2), False)],
        "cmykblack": [(A4, TEXT + lines_of_text(p, "0.7 0.7 0.7 1 setcmykcolor"), False)
                      for p in range(1, 3)]
                     + [(A4, TEXT + lines_of_text(3, "0 0 0 setrgbcolor"), False)],
        "a3": [(A3, colour_page(1), True), (A3, grey_page(2), False)],
    }


def write_postscript(path, pages):
    with open(path, "w") as out:
        out.write("%%!PS-Adobe-3.0\n%%%%Pages: %d\n%%%%EndComments\n" % len(pages))
        for number, (size, body, _) in enumerate(pages, 1):
            out.write("%%%%Page: %d %d\n<< /PageSize [%d %d] >> setpagedevice\n%s\nshowpage\n"
                      % (number, number, size[0], size[1], body))
        out.write("%%EOF\n")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, pages in documents().items():
        ps = os.path.join(folder, name + ".ps")
        pdf = os.path.join(folder, name + ".pdf")
        write_postscript(ps, pages)
        # Lossless images: JPEG would tint the greys.
        subprocess.run(["ps2pdf", "-dAutoFilterColorImages=false",
                        "-dColorImageFilter=/FlateEncode", "-dAutoRotatePages=/None", ps, pdf],
                       check=True)
        colours = "".join("1" if colour else "0" for _, _, colour in pages)
        for path in (ps, pdf):
            os.chmod(path, 0o644)
            print(path, colours)


if __name__ == "__main__":
    main()
