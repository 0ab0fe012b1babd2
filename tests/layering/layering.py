#!/usr/bin/env python3
"""The layering test: every #include "..." under src/ must go down the table of allowed
directions below (or stay inside its own area). Prints each include that goes against it, with
its file and line, and fails; also fails when the README's copy of the table differs.

Usage: layering.py [TOP]   (TOP: the checkout, default: two folders up from this script)"""
import os
import re
import sys

# Each area, and the areas it may include directly. What those may include, it may include too.
# An area is a folder under src/ (its subfolders that are areas of their own excepted); a file
# directly in src/app/ (main.cpp) is the area "app". Keep this table and the README's copy alike.
TABLE = """
core:                    -
mailsystem/model:        core
mailsystem/net:          core
mailsystem/ical:         mailsystem/model
mailsystem/addressbook:  mailsystem/model
mailsystem/ldap:         mailsystem/addressbook
mailsystem/caldav:       mailsystem/ical mailsystem/net
mailsystem/transport:    mailsystem/net
mailsystem/sieve:        core
mailsystem:              mailsystem/caldav mailsystem/ldap mailsystem/transport mailsystem/sieve
paging/simplemapi:       mailsystem
paging:                  paging/simplemapi
outlook:                 paging
users:                   outlook
app/metrics:             core
app/cluster:             paging
app/monitor:             users app/metrics app/cluster
app/admin:               mailsystem
app/cli:                 app/monitor app/admin
app/gui/profiles:        app/monitor app/admin
app/gui:                 app/monitor app/gui/profiles
app:                     app/cli app/gui
"""

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table(text):
    rules = {}
    for line in text.strip().splitlines():
        area, _, below = line.partition(':')
        rules[area.strip()] = [b for b in below.split() if b != '-']
    return rules


def closure(rules):
    allowed = {}

    def reach(area, seen):
        for below in rules.get(area, []):
            if below not in seen:
                seen.add(below)
                reach(below, seen)
        return seen

    for area in rules:
        allowed[area] = reach(area, {area})
    return allowed


def area_of(path, areas):
    """The area of a path relative to src/: the longest area that is a folder holding it."""
    folder = os.path.dirname(path)
    while True:
        if folder in areas:
            return folder
        if not folder:
            return None
        folder = os.path.dirname(folder)


def readme_table(top):
    readme = os.path.join(top, 'README.md')
    try:
        text = open(readme, encoding='utf-8').read()
    except OSError:
        return None
    match = re.search(r'```layering\n(.*?)```', text, re.S)
    return match.group(1) if match else None


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
    src = os.path.join(top, 'src')
    rules = read_table(TABLE)
    allowed = closure(rules)
    faults = []
    for unknown in sorted({b for bs in rules.values() for b in bs} - set(rules)):
        faults.append(f'layering.py: the table names "{unknown}", which has no row of its own')
    files = 0
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if not name.endswith(('.h', '.cpp', '.hpp', '.c')):
                continue
            path = os.path.relpath(os.path.join(folder, name), src)
            area = area_of(path, rules)
            files += 1
            if area is None:
                faults.append(f'src/{path}: its folder is no area of the table; give it a row')
                continue
            with open(os.path.join(src, path), encoding='utf-8', errors='replace') as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    included = match.group(1)
                    if not os.path.exists(os.path.join(src, included)):
                        continue  # a header beside the file, or a system or test header
                    target = area_of(included, rules)
                    if target is not None and target not in allowed[area]:
                        faults.append(f'src/{path}:{number}: "{included}" goes from {area} to '
                                      f'{target}, which {area} may not include')
    copy = readme_table(top)
    if copy is None:
        faults.append('README.md: no ```layering block holds the table of allowed directions')
    elif read_table(copy) != rules:
        faults.append('README.md: its ```layering table differs from the one in '
                      'tests/layering/layering.py')
    for fault in faults:
        print(fault)
    if faults:
        print(f'layering: {len(faults)} fault(s) in {files} files')
        return 1
    print(f'layering: {files} files, every include goes down the table')
    return 0


if __name__ == '__main__':
    sys.exit(main())
