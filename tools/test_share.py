#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of the product and of its tests.

The product is every C/C++ source that git tracks outside tests/, fuzz/,
tools/ and bench/: what the programs and the codec module are built from.
The tests are the C/C++, shell and Python files that git tracks under
tests/ and fuzz/ (the fuzz harnesses; their corpus is data). tools/ and
bench/ count as neither. Prints the lines per folder and the tests' share
of the product.
Usage: tools/test_share.py [repository root]
"""
import os
import subprocess
import sys

C_SUFFIXES = ('.c', '.cc', '.cpp', '.h', '.hpp')
TEST_DIRS = ('tests', 'fuzz')
NEITHER_DIRS = ('tools', 'bench')


def strip_c_comments(text):
    """The text with // and /* */ comments blanked, string literals kept."""
    out, i, n, quote = [], 0, len(text), None
    while i < n:
        c = text[i]
        if quote:
            out.append(c)
            if c == '\\':
                out.append(text[i + 1:i + 2])
                i += 2
                continue
            if c == quote or c == '\n':
                quote = None
            i += 1
        elif text.startswith('//', i):
            end = text.find('\n', i)
            i = n if end < 0 else end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            out.append('\n' * text.count('\n', i, end))
            i = end
        elif c == '"' and text[i - 1:i] == 'R':  # raw string: R"(...)"
            end = text.find(')"', i)
            end = n if end < 0 else end + 2
            out.append(text[i:end])
            i = end
        else:
            if c in '"\'':
                quote = c
            out.append(c)
            i += 1
    return ''.join(out)


def counted_lines(path):
    with open(path, errors='replace') as f:
        text = f.read()
    if path.endswith(C_SUFFIXES):
        return sum(1 for line in strip_c_comments(text).splitlines() if line.strip())
    return sum(1 for line in text.splitlines()
               if line.strip() and not line.strip().startswith('#'))


def tracked_files(root):
    listing = subprocess.run(['git', '-C', root, 'ls-files', '-z'], check=True,
                             stdout=subprocess.PIPE).stdout.decode()
    return [path for path in listing.split('\0') if path]


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    folders = {}
    for path in tracked_files(root):
        parts = path.split('/')
        if len(parts) < 2 or parts[0] in NEITHER_DIRS:
            continue
        is_tests = parts[0] in TEST_DIRS
        wanted = path.endswith(C_SUFFIXES) or (is_tests and path.endswith(('.sh', '.py')))
        if not wanted:
            continue
        key = '/'.join(parts[:2]) if parts[0] == 'tests' and len(parts) > 2 else parts[0]
        folders.setdefault((is_tests, key), 0)
        folders[(is_tests, key)] += counted_lines(os.path.join(root, path))
    code = sum(v for (t, _), v in folders.items() if not t)
    tests = sum(v for (t, _), v in folders.items() if t)
    for (is_tests, key), lines in sorted(folders.items()):
        print(f"{'tests' if is_tests else 'code '}  {key:<24} {lines:6}")
    print(f'code {code}, tests {tests}: tests are {100 * tests / code:.1f}% of the code')


if __name__ == '__main__':
    main()
