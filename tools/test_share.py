#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of product code and of tests.

Code is the C/C++ sources outside tests/ and fuzz/; tests are the C/C++,
shell and Python files under tests/. Prints the lines per folder and the
tests' share of the code.
Usage: tools/test_share.py [repository root]
"""
import os
import sys

C_SUFFIXES = ('.c', '.cc', '.cpp', '.h', '.hpp')
SKIPPED_DIRS = ('corpus', 'regressions')


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


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    folders = {}
    for top in sorted(os.listdir(root)):
        top_path = os.path.join(root, top)
        if not os.path.isdir(top_path) or top.startswith(('.', 'build')) or top == 'fuzz':
            continue
        is_tests = top == 'tests'
        for folder, dirs, files in os.walk(top_path):
            dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS)
            for name in files:
                wanted = name.endswith(C_SUFFIXES) or (is_tests and name.endswith(('.sh', '.py')))
                if not wanted:
                    continue
                rel = os.path.relpath(folder, root).split(os.sep)
                key = '/'.join(rel[:2]) if is_tests else rel[0]
                folders.setdefault((is_tests, key), 0)
                folders[(is_tests, key)] += counted_lines(os.path.join(folder, name))
    code = sum(v for (t, _), v in folders.items() if not t)
    tests = sum(v for (t, _), v in folders.items() if t)
    for (is_tests, key), lines in sorted(folders.items()):
        print(f"{'tests' if is_tests else 'code '}  {key:<24} {lines:6}")
    print(f'code {code}, tests {tests}: tests are {100 * tests / code:.1f}% of the code')


if __name__ == '__main__':
    main()
