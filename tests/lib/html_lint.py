"""xmllint --html for a report page with charts: libxml2's HTML parser takes
inline SVG for unknown tags, so each <svg> is parsed as the XML it must be
and the rest of the page by xmllint, which must find nothing to say."""
import re
import subprocess
import xml.etree.ElementTree as ElementTree

SVG = re.compile(rb"<svg\b.*?</svg>", re.S)


def lint_report(path):
    """(xmllint's status, every complaint), (0, b"") for a clean page."""
    with open(path, "rb") as f:
        page = f.read()
    charset = "cp1252" if b"charset=windows-1252" in page[:400] else "utf-8"
    complaints = b""
    for svg in SVG.findall(page):
        try:
            ElementTree.fromstring(svg.decode(charset))
        except (ElementTree.ParseError, UnicodeDecodeError) as e:
            complaints += b"chart: " + str(e).encode() + b"\n"
    bare = path + ".bare.html"
    with open(bare, "wb") as f:
        f.write(SVG.sub(b"", page))
    lint = subprocess.run(["xmllint", "--html", "--noout", bare], capture_output=True, timeout=60)
    return lint.returncode, lint.stdout + lint.stderr + complaints
