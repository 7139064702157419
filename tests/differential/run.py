"""Differential test of the HTTP client's wire: every generated response
is read by the module's client (the wire-reader program, run as the
command after "--", under Wine for a Windows build) and by two strict
HTTP/1.1 parsers written by others: h11 (Debian's python3-h11) and llhttp
(the one Node.js carries, run by llhttp_read.js). Every request the client
sends is parsed by h11 as a server.

The rules (a failure is printed with its case, and the run exits 1):
  1. The client never accepts a response that both references refuse,
     unless the response is one of the forms an RFC lets a recipient
     accept (the generator knows each such form's strict twin, and the
     README lists them; a control byte kept in a head's value is written
     as "x" in the twin): then both references must accept the twin.
  2. When both references accept the response, the client either refuses
     it or reads the status, body and keep-alive of one of them (of both,
     when they agree); when they accept only its strict twin, the status
     and keep-alive.
  3. Every request the client sends is read by h11 as a server, with the
     method, target and Host the client meant.

    run.py [--seed N] [--count N] [--show N] -- READER COMMAND...
"""

import argparse
import collections
import json
import os
import subprocess
import sys

try:
    import h11
except ImportError:  # Debian's python3-h11, under another interpreter
    sys.path.append("/usr/lib/python3/dist-packages")
    import h11

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def h11_read(data):
    """h11's reading of `data` as the answer to a GET: a dict with status,
    body and keep, or with error."""
    conn = h11.Connection(h11.CLIENT)
    conn.send(h11.Request(method="GET", target="/", headers=[("Host", "127.0.0.1:8080")]))
    conn.send(h11.EndOfMessage())
    conn.receive_data(data)
    closed = False
    status, body = None, b""
    try:
        while True:
            event = conn.next_event()
            if event is h11.NEED_DATA:
                if closed:
                    return {"error": "incomplete"}
                conn.receive_data(b"")
                closed = True
            elif event is h11.PAUSED:
                return {"error": "paused"}
            elif isinstance(event, h11.Response):
                status = event.status_code
            elif isinstance(event, h11.Data):
                body += event.data
            elif isinstance(event, h11.EndOfMessage):
                left = conn.trailing_data[0]
                keep = conn.their_state is h11.DONE and not closed and not left
                return {"status": status, "body": body.hex(), "keep": keep}
            elif isinstance(event, h11.ConnectionClosed):
                return {"error": "closed"}
    except h11.RemoteProtocolError as error:
        return {"error": str(error)}


def llhttp_read(all_data):
    text = "".join(data.hex() + "\n" for data in all_data)
    out = subprocess.run(["node", os.path.join(HERE, "llhttp_read.js")], input=text, capture_output=True,
                         text=True, check=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def module_read(command, lines):
    out = subprocess.run(command, input="".join(line + "\n" for line in lines), capture_output=True,
                         text=True, check=True).stdout
    answers = [line.rstrip("\r") for line in out.splitlines()]
    if len(answers) != len(lines):
        sys.exit("the reader answered %d of %d cases" % (len(answers), len(lines)))
    return answers


def module_reading(answer):
    words = answer.split(" ")
    if words[0] != "ok":
        return None
    return {"status": int(words[1]), "keep": words[2] == "1", "body": "" if words[3] == "-" else words[3]}


def same(a, b):
    return a["status"] == b["status"] and a["body"] == b["body"] and a["keep"] == b["keep"]


def head_controls_kept(data):
    """`data` with each control byte but NUL, CR, LF and HTAB in its head
    written as "x": the twin of a value that keeps one (RFC 9110 5.5), where
    the generator cannot know it (a field line that another byte made part
    of a value)."""
    end = data.find(b"\n\r\n")
    end = len(data) if end < 0 else end
    head = bytes(b if b >= 0x20 and b != 0x7F or b in (0, 9, 10, 13) else ord("x") for b in data[:end])
    return head + data[end:]


def check_responses(command, responses, failures, counts):
    responses = [(kind, wire, head_controls_kept(wire if strict is None else strict))
                 for kind, wire, strict in responses]
    wires = [wire for _, wire, _ in responses]
    twins = [strict for _, wire, strict in responses if strict is not None and strict != wire]
    ll = llhttp_read(wires + twins)
    ll_wire, ll_twin = ll[:len(wires)], iter(ll[len(wires):])
    answers = module_read(command, ["R " + (wire.hex() or "-") for wire in wires])
    for (kind, wire, strict), ll_reading, answer in zip(responses, ll_wire, answers):
        mine = module_reading(answer)
        refs = [h11_read(wire), ll_reading]
        accepted = [r for r in refs if "error" not in r]
        refused_by_both = not accepted
        if strict is not None and strict != wire:
            # An RFC-allowed form: refused by both only when its strict twin
            # is too; read as the twin is when both accept only the twin.
            twin = [h11_read(strict), next(ll_twin)]
            twin_accepted = [r for r in twin if "error" not in r]
            refused_by_both = refused_by_both and not twin_accepted
            if len(accepted) < 2 and len(twin_accepted) == 2:
                # The twin's body bytes may differ from the wire's (a bare
                # LF that the twin writes as CR LF may fall in the body):
                # status and keep-alive are compared, not the body.
                refs = [dict(r, body=mine["body"] if mine else r["body"]) for r in twin]
                accepted = refs
        counts["cases"] += 1
        counts["module accepts" if mine else "module refuses"] += 1
        counts["references accept %d of 2" % len(accepted)] += 1
        if mine and refused_by_both:
            failures.append(("accepts what both references refuse", kind, wire, answer, refs))
        elif mine and len(accepted) == 2 and not any(same(mine, r) for r in accepted):
            failures.append(("reads otherwise than both references", kind, wire, answer, refs))
        elif not mine and len(accepted) == 2:
            counts["module refuses what both accept"] += 1
        if len(accepted) == 2 and not same(*accepted):
            counts["references disagree"] += 1


def h11_requests(data):
    """The requests in `data` as h11 reads them as a server: a list of
    (method, target, [Host values]), or a text on a refusal."""
    read = []
    while data:
        conn = h11.Connection(h11.SERVER)
        conn.receive_data(data)
        try:
            event = conn.next_event()
            if not isinstance(event, h11.Request):
                return "no whole request (%r)" % (event,)
            read.append((event.method, event.target, [v for n, v in event.headers if n == b"host"],
                         event.http_version))
            end = conn.next_event()
            if not isinstance(end, h11.EndOfMessage):
                return "a request with a body (%r)" % (end,)
        except h11.RemoteProtocolError as error:
            return str(error)
        data = conn.trailing_data[0]
    return read


def check_requests(command, requests, failures, counts):
    lines = ["Q %s %s %s" % (mode, url.encode().hex() or "-", location.hex() or "-")
             for mode, url, location in requests]
    for (mode, url, location), answer in zip(requests, module_read(command, lines)):
        counts["requests " + mode] += 1
        words = answer.split(" ")
        if words[0] != "sent":
            counts["requests not sent"] += 1
            continue
        sent = bytes.fromhex(words[1])
        intents = [(bytes.fromhex(words[i]), bytes.fromhex(words[i + 1])) for i in range(2, len(words), 2)]
        read = h11_requests(sent)
        method = b"CONNECT" if mode == "connect" else b"GET"
        problem = None
        if isinstance(read, str):
            problem = "h11 refuses it: " + read
        elif len(read) != len(intents):
            problem = "h11 reads %d requests, the client meant %d" % (len(read), len(intents))
        else:
            for (m, target, hosts, version), (want_target, want_host) in zip(read, intents):
                if (m, target, hosts, version) != (method, want_target, [want_host], b"1.1"):
                    problem = "read %r, meant %r" % ((m, target, hosts, version), (method, want_target, want_host))
        if problem:
            failures.append(("request: " + problem, mode, (url, location), sent, None))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--show", type=int, default=10)
    parser.add_argument("reader", nargs="+")
    args = parser.parse_args()
    responses, requests = cases.generate(args.seed, args.count)
    failures, counts = [], collections.Counter()
    check_responses(args.reader, responses, failures, counts)
    check_requests(args.reader, requests, failures, counts)
    for name in sorted(counts):
        print("%-40s %d" % (name, counts[name]))
    kinds = collections.Counter(kind for kind, _, _ in responses)
    print("classes: " + ", ".join("%s %d" % item for item in sorted(kinds.items())))
    for failure in failures[:args.show]:
        print("FAIL %s [%s]\n  %r\n  module: %r\n  references: %r" % failure)
    print("%d failures in %d responses and %d requests (seed %d)" %
          (len(failures), len(responses), len(requests), args.seed))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
