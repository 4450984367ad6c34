#!/usr/bin/python3
"""The merge as a user would otherwise write it: a short script with pyodbc.

    merge.py DSN QUERY_FILE MESSAGE_FILE

It does Kelvorin's job, kept simple: reads the message, takes the recipient
from the first "<<< " line, puts it into the query, runs the query, repeats
the text between two %kelvorin% markers once per row, fills %%N%% with
column N (outside the block from the first row) and writes the message back
the same crash-safe way (a temporary file beside it, fsync, rename, fsync of
the folder), so both programs pay for the same disk work. No log, no INI, no
wrapping. Run with /usr/bin/python3, whose pyodbc comes from Debian.
"""
import os
import re
import sys
import tempfile

import pyodbc

BLOCK = re.compile(r"%kelvorin%\r?\n?(.*?)%kelvorin%\r?\n?", re.S)
PLACEHOLDER = re.compile(r"%%(\d+)%%")
RECIPIENT = re.compile(r"\r\n<<< ([^\r\n]+)")


def text_of(value):
    if value is None:
        return "<null>"
    if isinstance(value, float):
        return "%.2f" % value
    return str(value)


def fill(text, row):
    def cell(match):
        n = int(match.group(1))
        return row[n - 1] if 1 <= n <= len(row) else match.group(0)

    return PLACEHOLDER.sub(cell, text)


def merge(message, rows):
    expanded = BLOCK.sub(lambda m: "".join(fill(m.group(1), row) for row in rows), message)
    return fill(expanded, rows[0])


def replace_file(path, text):
    folder = os.path.dirname(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(dir=folder, prefix=".merge-")
    with os.fdopen(fd, "w", encoding="utf-8", errors="surrogateescape", newline="") as out:
        out.write(text)
        out.flush()
        os.fsync(out.fileno())
    os.replace(temp, path)
    dir_fd = os.open(folder, os.O_RDONLY)
    os.fsync(dir_fd)
    os.close(dir_fd)


def main():
    dsn, query_path, message_path = sys.argv[1:4]
    with open(message_path, encoding="utf-8", errors="surrogateescape", newline="") as f:
        message = f.read()
    recipient = RECIPIENT.search(message).group(1)
    with open(query_path, encoding="utf-8") as f:
        sql = f.read().replace("%recipient%", recipient.replace("'", "''"), 1)
    connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
    rows = [[text_of(v) for v in row] for row in connection.cursor().execute(sql).fetchall()]
    connection.close()
    if not rows:
        sys.exit("no rows for " + recipient)
    replace_file(message_path, merge(message, rows))


if __name__ == "__main__":
    main()
