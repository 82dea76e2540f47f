#!/usr/bin/python3
"""names_check.py KIND PATH [ARG]: what a report or mail made of the names
of names_cups_test.sh, read in the encoding it declares; prints one line of
key=value words for the shell test to compare.
  html FILE          the charset of the meta tag, and whether the names read right in it
  csv FILE ENCODING  whether the names read right in ENCODING (utf-8: with its BOM)
  mail DIR GLOBAL    the first message in DIR: its text and HTML parts in their
                     charsets, the HTML's meta tag, the attachment against GLOBAL"""
import email
import email.policy
import glob
import re
import sys

USER = "jürgen€?"
TITLE = "Bäöüß € ?? ?"


def names(text):
    return "names=" + ("yes" if USER in text and TITLE in text else "no")


def meta_charset(data):
    found = re.search(rb'charset="?([A-Za-z0-9_-]+)', data)
    return found.group(1).decode().lower() if found else "none"


def readable(data, charset):
    try:
        return data.decode(charset)
    except (LookupError, UnicodeDecodeError):
        return ""


def html(path):
    data = open(path, "rb").read()
    charset = meta_charset(data)
    return f"charset={charset} {names(readable(data, charset))}"


def csv(path, encoding):
    data = open(path, "rb").read()
    bom = data.startswith(b"\xef\xbb\xbf")
    return f"bom={'yes' if bom else 'no'} {names(readable(data, 'utf-8-sig' if bom else encoding))}"


def mail(folder, global_log):
    messages = sorted(glob.glob(folder + "/*.eml"))
    if not messages:
        return "messages=0"
    m = email.message_from_binary_file(open(messages[0], "rb"), policy=email.policy.default)
    words = [f"messages={len(messages)}"]
    for part in m.walk():
        kind = part.get_content_type()
        data = part.get_payload(decode=True)
        if kind == "text/plain":
            words.append("text:" + names(readable(data, part.get_content_charset())))
        elif kind == "text/html":
            agrees = meta_charset(data) == (part.get_content_charset() or "").lower()
            words.append("html:" + names(readable(data, part.get_content_charset())))
            words.append("html-meta=" + ("agrees" if agrees else meta_charset(data)))
        elif kind == "application/xml":
            same = data == open(global_log, "rb").read()
            words.append("attachment=" + ("the-global-log" if same else "other"))
    return " ".join(words)


if __name__ == "__main__":
    kind, args = sys.argv[1], sys.argv[2:]
    print({"html": html, "csv": csv, "mail": mail}[kind](*args))
