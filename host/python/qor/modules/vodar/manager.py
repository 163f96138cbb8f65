"""Showing the register's entries for a commodity code to the customs officer."""

import datetime
import sys

from . import register

# Past this many objects the list is cut: a code of two or four digits can match hundreds.
MAX_OBJECTS = 100
HOLDER_WIDTH = 80


def showcode(code, now, omitted):
    """Prints the register's entries whose code ranges match code.

    code: the commodity code as typed (ten digits, or fewer for its leading part);
    now: the current moment (datetime.datetime), against which end dates are judged;
    omitted: whether the code is on the list of goods of order 1532.
    """
    today = _as_datetime(now).strftime("%Y-%m-%d %H:%M:%S")
    ranges = register.matching_ranges(code, today)
    _write(_report(code, now, omitted, ranges))


def _as_datetime(moment):
    if isinstance(moment, datetime.datetime):
        return moment
    if isinstance(moment, datetime.date):
        return datetime.datetime.combine(moment, datetime.time())
    raise TypeError("now: ожидается datetime.datetime, получено %r" % (moment,))


class _Object(object):
    def __init__(self, first):
        self.regnom = first.regnom
        self.name = first.name
        self.holder = first.holder
        self.ranges = []

    @property
    def in_force(self):
        return any(r.in_force for r in self.ranges)


def _group(ranges):
    objects = {}
    for r in ranges:
        objects.setdefault(r.regnom, _Object(r)).ranges.append(r)
    # Objects still in force first; each group in order of registration number.
    return sorted(objects.values(), key=lambda o: (not o.in_force, o.regnom))


def _report(code, now, omitted, ranges):
    objects = _group(ranges)
    in_force = sum(1 for o in objects if o.in_force)
    kind = "полный код" if len(code) >= register.FULL_CODE_LENGTH else "начальные знаки кода"
    lines = [
        "Код ТН ВЭД: %s (%s)" % (code, kind),
        "Перечень товаров по приказу Минпромторга России № 1532: %s"
        % ("код входит в перечень" if omitted else "код в перечень не входит"),
    ]
    if not objects:
        lines.append("Реестр ТРОИС на %s: записей с этим кодом нет." % _moment(now))
        return "\n".join(lines) + "\n"
    lines.append("Реестр ТРОИС на %s: объектов %d, из них действуют %d."
                 % (_moment(now), len(objects), in_force))
    for number, obj in enumerate(objects[:MAX_OBJECTS], 1):
        lines.append("")
        lines.extend(_object_lines(number, obj))
    if len(objects) > MAX_OBJECTS:
        lines.append("")
        lines.append("… и ещё объектов: %d. Уточните код, чтобы увидеть их."
                     % (len(objects) - MAX_OBJECTS))
    return "\n".join(lines) + "\n"


def _object_lines(number, obj):
    name = "«%s»" % obj.name if obj.name else "(наименование не указано)"
    status = "" if obj.in_force else "  [НЕ ДЕЙСТВУЕТ]"
    lines = ["%d. %s  %s%s" % (number, obj.regnom, name, status)]
    if obj.holder:
        lines.append("    Правообладатель: %s" % _shorten(obj.holder, HOLDER_WIDTH))
    for r in obj.ranges:
        codes = "%s–%s" % (r.g33min, r.g33max) if r.g33max else r.g33min
        if r.dateend:
            until = "до %s" % _date(r.dateend)
        else:
            until = "срок не указан"
        mark = "" if r.in_force else " — не действует"
        lines.append("    Коды ТН ВЭД: %s, %s%s" % (codes, until, mark))
    return lines


def _shorten(text, width):
    """The holder's name and as much of the address as fits, cut between words."""
    text = " ".join(str(text).split())
    if len(text) <= width:
        return text
    cut = text.rfind(" ", 0, width)
    if cut < width // 2:
        cut = width - 1
    return text[:cut].rstrip(" ,;") + "…"


def _date(text):
    """A stored "YYYY-MM-DD" date as officers write it; other texts as they are."""
    try:
        return datetime.datetime.strptime(str(text)[:10], "%Y-%m-%d").strftime("%d.%m.%Y")
    except ValueError:
        return str(text)


def _moment(now):
    return _as_datetime(now).strftime("%d.%m.%Y %H:%M")


def _write(text):
    """Writes UTF-8 whatever encoding the host's standard output was set up with."""
    stream = sys.stdout
    if stream is None:
        return
    buffer = getattr(stream, "buffer", None)
    if buffer is None:
        stream.write(text)
    else:
        stream.flush()
        buffer.write(text.encode("utf-8"))
        buffer.flush()
    stream.flush()
