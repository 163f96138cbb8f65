"""Reading the register's code ranges from the database the host serves as "ТРОИС"."""

import sqlite3
from urllib.parse import quote

DATABASE = "ТРОИС"
FILE_PARAM = "sqlite.file"

# Codes shorter than this are leading parts of a code and match every range they overlap;
# longer ones are full codes and must lie inside a range.
FULL_CODE_LENGTH = 10

# The same conditions as the register module's own check, so that showing and checking agree.
_PREFIX_CONDITION = (
    "((substr(:G33, 1, min(length(g33min), :G33LEN)) >= "
    "substr(g33min, 1, min(length(g33min), :G33LEN))) and "
    "(substr(:G33, 1, min(length(coalesce(g33max, g33min)), :G33LEN)) <= "
    "substr(coalesce(g33max, g33min), 1, min(length(coalesce(g33max, g33min)), :G33LEN))))"
)
_RANGE_CONDITION = "(:G33 BETWEEN G33MIN10 AND G33MAX10)"

# In force exactly when the check would count the row: the moment, written as the host binds
# a date parameter, is not after DATEEND when both are compared by the database.
_ENTRIES = """
SELECT g.REGNOM, v.G31_12, v.F732SNA, g.G33MIN, g.G33MAX, g.DATEEND,
       coalesce(:TODAY <= g.DATEEND, 0) AS IN_FORCE
FROM (SELECT * FROM vodar_g33 WHERE {condition}) AS g
LEFT JOIN vodar AS v ON v.REGNOM = g.REGNOM
ORDER BY g.REGNOM, g.G33MIN
"""


class RegisterError(RuntimeError):
    """The register's database cannot be located, opened or read."""


class Range(object):
    """One code range of a registered object that matches the code asked about."""

    __slots__ = ("regnom", "name", "holder", "g33min", "g33max", "dateend", "in_force")

    def __init__(self, regnom, name, holder, g33min, g33max, dateend, in_force):
        self.regnom = regnom
        self.name = name
        self.holder = holder
        self.g33min = g33min
        self.g33max = g33max
        self.dateend = dateend
        self.in_force = bool(in_force)


def database_file():
    """The register's file, as the host's configuration names it."""
    try:
        import kvthost
    except ImportError as error:
        raise RegisterError(
            'Модуль хоста "kvthost" недоступен: не узнать, где лежит база "%s" (%s)'
            % (DATABASE, error)) from error
    database_param = getattr(kvthost, "database_param", None)
    if database_param is None:
        raise RegisterError(
            'Модуль хоста "kvthost" не предоставляет функцию database_param: '
            'не узнать, где лежит база "%s"' % DATABASE)
    path = database_param(DATABASE, FILE_PARAM)
    if path is None or not str(path).strip():
        raise RegisterError(
            'В настройках хоста для базы "%s" не задан параметр "%s" (путь к файлу базы)'
            % (DATABASE, FILE_PARAM))
    return str(path)


def matching_ranges(code, today):
    """Every range whose bounds match code, with its object; today is "YYYY-MM-DD HH:MM:SS"."""
    path = database_file()
    params = {"G33": code, "TODAY": today}
    if len(code) < FULL_CODE_LENGTH:
        condition = _PREFIX_CONDITION
        params["G33LEN"] = len(code)
    else:
        condition = _RANGE_CONDITION
    try:
        connection = sqlite3.connect("file:%s?mode=ro" % quote(path), uri=True)
        try:
            rows = connection.execute(_ENTRIES.format(condition=condition), params).fetchall()
        finally:
            connection.close()
    except sqlite3.Error as error:
        raise RegisterError(
            'Не удалось прочитать базу "%s" из файла %s: %s' % (DATABASE, path, error)) from error
    return [Range(*row) for row in rows]
