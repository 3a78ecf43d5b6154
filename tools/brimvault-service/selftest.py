#!/usr/bin/python3
"""Checks of the stand-in's own logic that need no sockets: the streaming multipart parser fed
in random splits (boundaries cut anywhere, look-alike boundaries inside the file) and the
switch bookkeeping. Run by CTest; exits non-zero on the first failure."""

import io
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import brimvault_service as svc  # noqa: E402


class MemorySink(io.BytesIO):
    def __init__(self, store):
        super().__init__()
        self.store = store

    def close(self):
        self.store.append(self.getvalue())
        super().close()


def build_body(boundary, fields, file_name, data):
    body = b""
    for name, value in fields:
        body += b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + name + b"\"\r\n\r\n"
        body += value + b"\r\n"
    body += b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"FILE1\"; filename=\"" + file_name
    body += b"\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + b"\r\n"
    return body + b"--" + boundary + b"--\r\n"


def parse(boundary, body, rng):
    files = []
    parser = svc.MultipartParser(boundary, lambda part: (MemorySink(files), "/memory"))
    pos = 0
    while pos < len(body):
        step = rng.randrange(1, 64)
        parser.feed(body[pos:pos + step])
        pos += step
    return parser, parser.finish(), files


def check_parser():
    rng = random.Random(20261210)
    for round_ in range(2000):
        boundary = b"--------" + str(rng.randrange(10 ** 14, 10 ** 15)).encode()
        fields = [(b"group_name", b"soft"), (b"mode", b"soft"), (b"wmid", b"a:us\xc3\xa9r:p\r\n--x")]
        data = bytes(rng.getrandbits(8) for _ in range(rng.randrange(0, 400)))
        if rng.random() < 0.5:  # a line that almost is the delimiter
            data += b"\r\n--" + boundary[:rng.randrange(len(boundary))] + data[:7]
        body = build_body(boundary, fields, b'a "q".bin', data)
        parser, complete, files = parse(boundary, body, rng)
        assert complete, (round_, parser.error)
        assert [p.get("value") for p in parser.parts[:3]] == [v.decode("utf-8") for _, v in fields]
        assert files == [data], round_
        assert parser.parts[3]["filename"] == 'a "q".bin'
        assert parser.parts[3]["size"] == len(data)
        assert parser.preamble == b"" and parser.epilogue == b"\r\n"
        cut = rng.randrange(0, len(body) - 3)
        truncated, complete, _ = parse(boundary, body[:cut], rng)
        assert not complete and truncated.error, (round_, cut)


def check_switches():
    state = svc.State(dict(svc.DEFAULTS))
    state.apply({"drop_after": 10, "drop_after_times": 2, "redirect_location": "/x", "redirect_times": 1})
    assert [state.fire("drop_after") for _ in range(3)] == [10, 10, -1]
    assert state.fire("redirect_location", "redirect_times") == "/x"
    assert state.get("redirect_location") is None
    try:
        state.apply({"drop_after": 1, "no_such_switch": 1})
        raise AssertionError("unknown switch accepted")
    except svc.ControlError:
        pass
    assert state.get("drop_after") == -1, "a refused message must change nothing"
    state.apply({"fail_next": 1, "fail_path": "/cgi-bin/"})
    assert state.take_failure("/uploadservers.txt") is None
    assert state.take_failure("/cgi-bin/upload.cgi") == ("status", 503)
    assert state.take_failure("/cgi-bin/upload.cgi") is None


def check_names():
    assert svc.safe_component("../../etc/passwd", "file") == ".._.._etc_passwd"
    assert svc.safe_component("..", "file") == "file"
    assert svc.account_folder("bob") == "bob"
    assert svc.account_folder("../x") == "u_" + b"../x".hex()
    assert svc.parse_query("user=%61%62&pass=a+b&x")["user"] == b"ab"
    assert svc.parse_query("user=%61%62&pass=a+b&x")["pass"] == b"a+b"


if __name__ == "__main__":
    check_parser()
    check_switches()
    check_names()
    print("stand-in self-test passed")
