#!/usr/bin/python3
"""What a simulated day of monitoring must page, worked out from the calendars alone.

An implementation of its own (dateutil's rrule for recurrences, zoneinfo for times), sharing no
code with Orvane, so that it can judge Orvane's pages. Reads CONFIG (key<TAB>value lines) and
USERS (folder, pager name, scan interval in minutes, first and last active instant), and writes
one line per page that must be sent: pager name<TAB>instant of sending<TAB>text. The number of
reminders that fall due outside the paging hours (dropped without a page) goes to stderr.

The rules, as a user of the program sees them: a reminder falls due one minute before its alarm;
it is collected by the first scan of its user at or before its alarm, so a user who becomes
active (out of office) gets the reminders whose alarm is still to come; it is paged at the first
tick at or after it falls due while its user is active, or dropped when that tick's hour lies
outside the paging hours. A calendar changed during the day is seen at the user's next scan:
reminders of the old calendar that fell due before that scan are paged, and of the new calendar
those whose alarm is at or after it.
"""

import sys
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo

from dateutil.rrule import rrulestr

UTC = timezone.utc


def unfold(path):
    lines = []
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8").splitlines():
            if raw[:1] in (" ", "\t") and lines:
                lines[-1] += raw[1:]
            elif raw:
                lines.append(raw)
    return lines


def unescape(text):
    out, i = "", 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out += {"n": "\n", "N": "\n"}.get(text[i + 1], text[i + 1])
            i += 2
        else:
            out += text[i]
            i += 1
    return out


def parse_time(params, value, local):
    """An aware datetime, or a naive one for floating times (with `floating` True)."""
    tzid = None
    for p in params:
        if p.upper().startswith("TZID="):
            tzid = p[5:]
    if value.endswith("Z"):
        return datetime.strptime(value, "%Y%m%dT%H%M%SZ").replace(tzinfo=UTC), False
    dt = datetime.strptime(value, "%Y%m%dT%H%M%S")
    if tzid:
        return dt.replace(tzinfo=ZoneInfo(tzid)), False
    return dt, True


def read_calendar(path, local):
    events, tasks, current, in_alarm = [], [], None, False
    try:
        lines = unfold(path)
    except FileNotFoundError:
        return events, tasks
    for line in lines:
        head, _, value = line.partition(":")
        name, *params = head.split(";")
        name = name.upper()
        if name == "BEGIN" and value in ("VEVENT", "VTODO"):
            current = {"kind": value, "summary": "", "location": "", "rrule": None}
        elif name == "BEGIN" and value == "VALARM":
            in_alarm = True
        elif name == "END" and value == "VALARM":
            in_alarm = False
        elif name == "END" and value in ("VEVENT", "VTODO"):
            (events if value == "VEVENT" else tasks).append(current)
            current = None
        elif current is None:
            continue
        elif in_alarm and name == "TRIGGER" and "trigger" not in current:
            if any(p.upper() == "VALUE=DATE-TIME" for p in params):
                current["trigger"] = ("at", parse_time([], value, local)[0])
            else:
                assert value.startswith("-PT") and value.endswith("M"), value
                current["trigger"] = ("before", int(value[3:-1]))
        elif in_alarm:
            continue
        elif name == "DTSTART":
            current["start"], current["floating"] = parse_time(params, value, local)
        elif name == "DTEND":
            current["end"] = parse_time(params, value, local)[0]
        elif name == "RRULE":
            current["rrule"] = value
        elif name == "SUMMARY":
            current["summary"] = unescape(value)
        elif name == "LOCATION":
            current["location"] = unescape(value)
    return events, tasks


def instant(dt, local):
    if dt.tzinfo is None:
        dt = dt.replace(tzinfo=local)
    return int(dt.timestamp())


def reminders(folder_dir, local, lo, hi):
    """(alarm instant, text) of every reminder whose alarm lies in [lo, hi]."""
    out = []
    for name in ("calendar.ics", "tasks.ics"):
        events, tasks = read_calendar(folder_dir + "/" + name, local)
        for e in events:
            if e.get("trigger", ("",))[0] != "before":
                continue
            lead = e["trigger"][1] * 60
            length = e["end"] - e["start"]
            start = e["start"]
            if e["rrule"]:
                ref = (lambda t: datetime.fromtimestamp(t, local).replace(tzinfo=None)) if e["floating"] \
                    else (lambda t: datetime.fromtimestamp(t, start.tzinfo))
                rule = rrulestr(e["rrule"], dtstart=start)
                starts = rule.between(ref(lo - 86400), ref(hi + 86400), inc=True)
            else:
                starts = [start]
            for s in starts:
                alarm = instant(s, local) - lead
                if lo <= alarm <= hi:
                    begin = s if s.tzinfo is None else s.astimezone(local)
                    finish = (s + length) if s.tzinfo is None else (s + length).astimezone(local)
                    text = begin.strftime("%I:%M-") + finish.strftime("%I:%M ") + e["summary"]
                    if e["location"]:
                        text += " (" + e["location"] + ")"
                    out.append((alarm, text))
        for t in tasks:
            if t.get("trigger", ("",))[0] == "at":
                alarm = instant(t["trigger"][1], local)
                if lo <= alarm <= hi:
                    out.append((alarm, t["summary"]))
    return out


def main():
    config = dict(line.rstrip("\n").split("\t", 1) for line in open(sys.argv[1]))
    local = ZoneInfo(config["zone"])
    day_start, day_end = int(config["start"]), int(config["start"]) + int(config["ticks"])
    start_hour, end_hour = int(config["start_hour"]), int(config["end_hour"])
    mail = config["mailboxes"]
    dropped = 0
    out = []
    for line in open(sys.argv[2]):
        folder, pager, interval, first, last = line.rstrip("\n").split("\t")
        interval, first, last = int(interval) * 60, int(first), int(last)
        if first >= last:
            continue
        found = reminders(mail + "/" + folder, local, first, last + 60)
        if folder == config.get("changed_folder"):
            change = int(config["changed_at"])
            seen = first + -(-(change - first) // interval) * interval  # first scan at or after
            old = reminders(config["changed_old"], local, first, last + 60)
            found = sorted(set((a, t) for a, t in old if a - 60 < seen) |
                           set((a, t) for a, t in found if a >= seen))
        for alarm, text in set(found):
            due = alarm - 60
            if alarm < first:
                continue  # its alarm passed before the user was first scanned
            tick = max(due, first)
            if tick >= last or tick >= day_end:
                continue
            hour = datetime.fromtimestamp(tick, local).hour
            if start_hour <= hour < end_hour:
                out.append("%s\t%d\t%s" % (pager, tick, text))
            else:
                dropped += 1
    with open(sys.argv[3], "w") as f:
        for line in sorted(out):
            f.write(line + "\n")
    sys.stderr.write("expected pages %d, dropped outside the paging hours %d\n" % (len(out), dropped))


if __name__ == "__main__":
    main()
