#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run from anywhere: python3 fuzz/make_seeds.py. The seeds are small and deterministic; the fuzz
targets grow their own working copies from them (fuzz/run never writes into fuzz/corpus).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def out(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# ---- Log files ----------------------------------------------------------------------------
HEADER, RECORD, COUNT = 373, 619, 25
CRLF = b"\r\n"


def label(text):
    return text.encode().ljust(25, b" ")


def num(v, w):
    return str(v).zfill(w).encode()


def header(start, end, news, overflow, empty, length=15848):
    h = b"!" * 80 + CRLF + label("Header Record") + CRLF
    for lab, v in (("Error Start Record:", start), ("Error End Record:", end),
                   ("Number of new Records:", news), ("Overflow Record:", overflow),
                   ("Empty Record:", empty)):
        h += label(lab) + num(v, 3) + CRLF
    h += label("Log File Length:") + num(length, 5) + CRLF + b"!" * 80 + CRLF
    assert len(h) == HEADER
    return h


def record(n, state, prev, nxt, code=0, text=None, comp=None, date="DD.MMM.YY",
           time="HH:MM:SS", file="-", line="-"):
    text = b"x" * 80 if text is None else text.encode().ljust(80, b" ")[:80]
    comp = b"*" * 15 if comp is None else comp.encode().ljust(15, b" ")[:15]
    r = b"+" * 80 + CRLF
    r += label("Error Record Nr.:") + num(n, 3) + CRLF
    r += label("Record State:") + state.encode() + CRLF
    r += label("Previous Record:") + num(prev, 3) + CRLF
    r += label("Next Record:") + num(nxt, 3) + CRLF
    r += label("Error Code:") + num(code, 5) + CRLF
    r += text + CRLF
    r += label("Component:") + comp + CRLF
    r += label("Date:") + date.encode().ljust(9)[:9] + CRLF
    r += label("TIME:") + time.encode().ljust(8)[:8] + CRLF
    r += label("File:") + file.encode().ljust(50)[:50] + CRLF
    r += label("Line:") + line.encode().ljust(6)[:6] + CRLF
    r += b"+" * 80 + CRLF
    assert len(r) == RECORD
    return r


def log(errors, overflow=0, news=None):
    """errors: record numbers, oldest first. The other records (not overflow) are free."""
    recs = {}
    for i, n in enumerate(errors):
        prev = errors[i - 1] if i > 0 else 0
        nxt = errors[i + 1] if i + 1 < len(errors) else 0
        recs[n] = record(n, "V", prev, nxt, 100 + n, "Error %d of the seed log" % n, "SEED",
                         "07.MAR.04", "09:05:%02d" % (i % 60), "seed.cpp", str(10 * n))
    if overflow:
        recs[overflow] = record(overflow, "V", 0, 0, 0, "MESSAGE BUFFER OVERFLOW", "",
                                "07.MAR.04", "09:06:00", "seed.cpp", "1")
    free = [n for n in range(1, COUNT + 1) if n not in recs]
    for i, n in enumerate(free):
        recs[n] = record(n, "E", free[i + 1] if i + 1 < len(free) else 0, 0)
    start = errors[-1] if errors else 0
    end = errors[0] if errors else 0
    body = b"".join(recs[n] for n in range(1, COUNT + 1))
    return header(start, end, len(errors) if news is None else news, overflow,
                  free[0] if free else 0) + body


def log_seeds():
    t = "fuzz_log_file"
    out(t, "fresh.log", log([]))
    out(t, "three.log", log([1, 2, 3]))
    out(t, "full.log", log(list(range(1, 26))))
    out(t, "overflow.log", log(list(range(2, 26)), overflow=1, news=24))
    out(t, "scattered.log", log([7, 3, 19, 1], news=2))
    # Valid but odd: the free chain ends at a link above 25.
    odd = bytearray(log([1, 2]))
    last_free = 373 + 24 * 619 + 165
    odd[last_free:last_free + 3] = b"026"
    out(t, "link_above_25.log", bytes(odd))
    # Corrupt ones.
    out(t, "short.log", log([])[:372])
    out(t, "header_only.log", log([])[:373])
    out(t, "length_plus_one.log", log([1]) + b" ")
    out(t, "length_field.log", header(0, 0, 0, 0, 1, 15847) + log([])[373:])
    loop = bytearray(log([]))
    rec5 = 373 + 4 * 619 + 165
    loop[rec5:rec5 + 3] = b"002"
    out(t, "free_loop.log", bytes(loop))
    out(t, "overflow_26.log", header(0, 0, 0, 26, 1) + log([])[373:])
    shared = bytearray(log([1, 2, 3]))
    shared[254:257] = b"002"
    out(t, "shared.log", bytes(shared))
    out(t, "empty.log", b"")


# ---- TARNBOOT.INI -------------------------------------------------------------------------
def ini_seeds():
    t = "fuzz_ini"
    out(t, "both.ini", "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n")
    out(t, "defaults.ini", "[ErrorTask]\n")
    out(t, "other_section.ini", "[Eventlog]\nLogVXErrorRelease=1\n")
    out(t, "two_words.ini", "[ErrorTask]\nSystemLogFile = \\LOG\\A.LOG second word\n"
        "UserLogFile=D:\\LOG\\U.LOG\n")
    out(t, "blank_value.ini", "[ErrorTask]\nSystemLogFile=   \n")
    out(t, "no_dot.ini", "[errortask]\nsystemlogfile=\\LOG\\SYSERR\nuserlogfile=\\LOG\\USER\n")
    out(t, "dot_in_folder.ini", "[ErrorTask]\nSystemLogFile=\\A.B\\LOG\\SYSERR.LOG\n"
        "UserLogFile=\\LOG\\U.X.Y\n")
    out(t, "long.ini", "[ErrorTask]\nSystemLogFile=\\LOG\\" + "A" * 300 + ".LOG\n")
    out(t, "same_file.ini", "[ErrorTask]\nSystemLogFile=\\LOG\\ONE.LOG\nUserLogFile=\\LOG\\ONE.LOG\n")
    out(t, "folder.ini", "[ErrorTask]\nSystemLogFile=\\LOG\nUserLogFile=\\\n")
    out(t, "comments.ini", "; comment\n[ErrorTask] ; trailing\nSystemLogFile=\\LOG\\S.LOG ; c\n"
        "UserLogFile\n=\n[ErrorTask]\nUserLogFile=\\LOG\\U2.LOG\n")
    out(t, "crlf.ini", "[ErrorTask]\r\nSystemLogFile=\\LOG\\SYSERR.LOG\r\n")


# ---- Messages for the error task ------------------------------------------------------------
def block(cmd, data=b"", tag1=0, tag2=0, length=None):
    if length is None:
        length = 8 + len(data)
    return struct.pack("<HHHH", cmd, length, tag1, tag2) + data


def message(blocks, sender=100, reply_mode=0, reply_mbx=0, rs=0, rt=0, count=None):
    if count is None:
        count = len(blocks)
    return struct.pack("<HHHHHH", sender, reply_mode, reply_mbx, rs, rt, count) + b"".join(blocks)


def report(nr, info="", line=0, file=""):
    data = struct.pack("<HHi", nr, 0, line) + file.encode().ljust(80, b"\0")[:80]
    data += info.encode().ljust(120, b"\0")[:120]
    return block(601, data)


def dispatch_seeds():
    t = "fuzz_dispatch"
    w = lambda *v: struct.pack("<" + "H" * len(v), *v)
    seeds = {
        "empty_message": (0, message([])),
        "short_header": (0, b"\x01\x00\x02"),
        "report_known": (0, message([report(20001, "one$two", 42, "a.cpp")])),
        "report_reply": (0, message([report(20002, "x$y", 7, "b.cpp")], reply_mode=2, reply_mbx=5, rt=9)),
        "report_unknown": (0, message([report(4711, "$info")])),
        "report_own": (0, message([report(65007, "", 1, "own.cpp")])),
        "ui_then_box": (0x23, message([block(606), report(20001, "p")])),
        "box_then_ui": (0x03, message([report(20001, "p"), block(606)])),
        "variant_b_iec": (0x41, message([block(609), report(20003, "P$1,2")])),
        "api_params": (0, message([report(20003, "S7$1,2"), report(20005, "L$7"), report(20007)])),
        "switches": (0, message([block(c) for c in (600, 604, 605, 606, 607, 608, 609, 612, 613)])),
        "set_state": (0, message([block(603, w(20001, 0xFFEF, 0)), block(603, w(9999, 0, 1))])),
        "archive_all": (0x80, message([block(619, w(1)), report(20007)])),
        "export_user": (0x10, message([block(610, w(0) + b"\\LOG\\USER.ARC\0")], reply_mode=2, reply_mbx=1)),
        "export_system": (0x08, message([block(611, w(0) + b"SYS.ARC\0")])),
        "erase_all": (0x18, message([block(614), block(615)])),
        "erase_selected": (0x18, message([block(616, w(3, 1, 25, 26)), block(617, w(2, 5, 5))])),
        "async_answer": (0, message([block(618, w(3), 1, 1)])),
        "unknown_cmds": (0, message([block(602), block(4), block(9999)])),
        "bad_length": (0, message([block(604, length=4), block(605)])),
        "length_past_end": (0, message([block(601, b"\x01\x4e", length=400)])),
        "count_too_big": (0, message([block(604)], count=50)),
        "erase_count_big": (0x10, message([block(616, w(200, 1))])),
        "export_unterminated": (0, message([block(610, w(0) + b"NAME")])),
        "report_short": (0, message([block(601, w(20001))])),
        "show_once_twice": (0x21, message([report(20004), report(20004)])),
        "chain_all": (0x27, message([block(606)] + [report(n, "a$b$c") for n in range(20001, 20013)])),
        "overflow_fill": (0x80, message([report(20008, "f%d" % i) for i in range(6)])),
    }
    for name, (control, msg) in seeds.items():
        out(t, name + ".bin", bytes([control]) + msg)


# ---- errsim scripts -------------------------------------------------------------------------
def script_seeds():
    t = "fuzz_script"
    out(t, "defines.txt",
        'define 5 100 ARCHIVE 0 0 "Door %s open" "Door %s open" "DOOR" - -\n'
        'define 5 101 ARCHIVE|IEC_TEXT 12 13 "Pump %s" - "PUMP" mb_ok_cancel mb_ok\n'
        'define 6 0x10 SYSTEM|3 16 16 "x" - - - -\n')
    out(t, "commands.txt",
        '# every command once\nboxes on\nboxes off\nui ready\nui not-ready\nvariant a\nvariant b\n'
        'system-errors on\nsystem-errors off\narchive-all 1\nreset\nstate 100 0xFFFE 0\n'
        'export user "\\\\LOG\\\\U.ARC"\nerase system all\nerase user 1,2,25\nanswer CANCEL\n'
        'cmd 602 1 "text"\nraw 01 00 02 00\nsync\nshow user\necho "a\\tb\\n"\n'
        'module-call hello\n')
    out(t, "reports.txt",
        'report 100 "P1$3.2" reply\nreport 101 file="f.cpp" line=-5\nreport 0xFFFE\n'
        'report 65007 "" reply\n')
    out(t, "errors.txt", 'repot 1\ndefine 20 1 X 0 0 "t" - - - -\nreport "unterminated\n')
    out(t, "crlf.txt", 'ui ready\r\nreport 1 "x"\r\n')


if __name__ == "__main__":
    log_seeds()
    ini_seeds()
    dispatch_seeds()
    script_seeds()
