// The host's commands for the register's commodity codes. Both meet the module only
// through the register manager it registered with the host (IVodarManager), and both first
// make sure that every table the module registered is there, with every declared column,
// in its database's file: a missing, unreadable or foreign file, or a missing table or
// column, is one line on stderr naming the file and the problem, and exit code 1.
//
//   check  one answer per code, written and flushed as soon as it is known:
//            CODE<TAB>yes|no                       (plain)
//            {"code": "CODE", "found": true|false}   (--json, one object per line)
//          CODE is the text as the user gave it; the manager is asked about the text
//          without blanks and dots, or with --raw about the text unchanged. With "-" the
//          codes are the lines of `in`; empty lines are skipped unless --raw is given.
//   show   the manager's ShowCode: the host's package prints the entries. Fails when the
//          package is not loaded (the manager would show nothing) and when showcode fails.
//
// Each answers the process's exit code: 0 done, 1 any failure (its message on stderr as
// one line "kvthost: check: ...").
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "host/cmdline.h"

class THostServer;

int RunCheck(THostServer& server, const CommandLine& cl, std::FILE* in, std::FILE* out);
int RunShow(THostServer& server, const CommandLine& cl);

