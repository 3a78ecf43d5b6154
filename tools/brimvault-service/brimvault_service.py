#!/usr/bin/python3
"""Local stand-in of the Brimvault file-hosting service (web site, upload server and FTP).

Serves on loopback only: the upload server list, the multipart upload, the FTP store plus the
commit call, download and delete links, and the version number. Every request is written to a
JSON-lines log so that tests can check exactly what a client put on the wire, and faults (dropped
connections, error statuses, slow replies, odd replies) can be switched on from the command line
or at run time.

Runs with Debian's /usr/bin/python3 (needs python3-pyftpdlib). See README.md beside this file.
"""

import argparse
import copy
import hashlib
import http.server
import json
import logging
import os
import re
import secrets
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time
import urllib.parse

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

LOOPBACK = "127.0.0.1"
UPLOAD_PATH = "/cgi-bin/upload.cgi"
CHUNK = 256 * 1024
TEXT_PART_CAP = 1024 * 1024  # text form fields are kept in memory up to this size
SMALL_TEXT_CAP = 64 * 1024  # preamble, epilogue, header blocks, logged bodies

# Run-time switches with their "off" values. Each one may be given on the command line
# (--name value) and changed through the control channel. A switch K with a companion
# "K_times" > 0 switches itself off after firing that many times.
DEFAULTS = {
    "server_list": None,  # text of /uploadservers.txt; None = "127.0.0.1:<http port>"
    "version_text": "100",  # body of /quillouploader/version.txt
    "upload_status": 0,  # answer upload posts and commit calls with this status
    "upload_status_times": -1,
    "drop_after": -1,  # drop an HTTP connection after this many request-body bytes
    "drop_after_times": -1,
    "throttle": 0,  # read HTTP request bodies at most this many bytes per second
    "delay": 0.0,  # wait this many seconds before answering
    "delay_path": "",  # only requests whose path starts with this ("" = all)
    "delay_times": -1,
    "no_download": False,  # upload/commit replies carry no DOWNLOAD line
    "reply_body": None,  # upload/commit replies are exactly this text
    "redirect_location": None,  # answer requests of redirect_path with this Location
    "redirect_status": 302,
    "redirect_path": UPLOAD_PATH,
    "redirect_times": -1,
    "fail_next": 0,  # the next N requests fail ...
    "fail_status": 503,  # ... with this status
    "fail_mode": "status",  # ... or "drop": the connection is closed without an answer
    "fail_path": "",  # only requests whose path starts with this ("" = all)
    "set_cookie": [],  # Set-Cookie header values added to every answer
    "commit_error_status": 200,  # status of a refused commit (its body is "ERROR: ...")
    "ftp_drop_after": -1,  # drop an FTP store after this many data bytes of one transfer
    "ftp_drop_after_times": -1,
    "ftp_drop_mode": "all",  # "all": data and control connection; "data": data only (426)
    "ftp_throttle": 0,  # receive FTP data at most this many bytes per second
    "ftp_size_reply": None,  # answer every SIZE with this reply line
    "ftp_size_reply_times": -1,
    "ftp_refuse_next": 0,  # the next N FTP connections get "421" and are closed
    # For throughput measurements, where the stand-in must not be the bottleneck:
    "hash_uploads": True,  # MD5 of uploaded file parts in the log (false: "md5" is null)
    "store_uploads": True,  # keep uploaded files (false: discarded, links answer 404)
}

# Keys whose value may be null.
NULLABLE = {"server_list", "reply_body", "redirect_location", "ftp_size_reply"}


class ControlError(Exception):
    pass


class State:
    """The switches, shared by the HTTP threads, the FTP loop and the control channel."""

    def __init__(self, initial):
        self._lock = threading.Lock()
        self._initial = copy.deepcopy(initial)
        self._values = copy.deepcopy(initial)

    def get(self, key):
        with self._lock:
            return copy.deepcopy(self._values[key])

    def snapshot(self):
        with self._lock:
            return copy.deepcopy(self._values)

    def fire(self, key, times_key=None):
        """Returns the switch's value and counts one use against its "_times" budget."""
        with self._lock:
            value = self._values[key]
            times_key = times_key or key + "_times"
            if times_key in self._values and self._values[times_key] > 0 and value != DEFAULTS[key]:
                self._values[times_key] -= 1
                if self._values[times_key] == 0:
                    self._values[key] = copy.deepcopy(DEFAULTS[key])
                    self._values[times_key] = -1
            return copy.deepcopy(value)

    def take_count(self, key):
        """Counts down a "next N" switch; true when this event is one of the N."""
        with self._lock:
            if self._values[key] <= 0:
                return False
            self._values[key] -= 1
            return True

    def take_failure(self, path):
        """Consumes one of the "fail_next" failures when it applies to path."""
        with self._lock:
            if self._values["fail_next"] <= 0:
                return None
            if not path.startswith(self._values["fail_path"]):
                return None
            self._values["fail_next"] -= 1
            return (self._values["fail_mode"], self._values["fail_status"])

    def apply(self, changes):
        if not isinstance(changes, dict):
            raise ControlError("control message must be a JSON object")
        with self._lock:
            values = copy.deepcopy(self._values)
            if changes.get("reset"):
                values = copy.deepcopy(self._initial)
            for key, value in changes.items():
                if key in ("reset", "clear_log", "get", "id"):
                    continue
                if key not in DEFAULTS:
                    raise ControlError("unknown switch: %s" % key)
                values[key] = _coerce(key, value)
            self._values = values
            return copy.deepcopy(values)


def _coerce(key, value):
    default = DEFAULTS[key]
    if value is None:
        if key in NULLABLE:
            return None
        raise ControlError("switch %s may not be null" % key)
    try:
        if key in NULLABLE or isinstance(default, str):
            if not isinstance(value, str):
                raise ControlError("switch %s takes a string" % key)
            return value
        if isinstance(default, bool):
            if isinstance(value, str):
                return value.lower() in ("1", "true", "yes", "on")
            return bool(value)
        if isinstance(default, int):
            return int(value)
        if isinstance(default, float):
            return float(value)
        if isinstance(default, list):
            if isinstance(value, str):
                return [value]
            return [str(v) for v in value]
    except (TypeError, ValueError):
        raise ControlError("bad value for switch %s: %r" % (key, value))
    return value


class Log:
    """JSON lines, one object per event, flushed at once so readers see them immediately."""

    def __init__(self, path):
        self._lock = threading.Lock()
        self._seq = 0
        self._path = path
        self._file = open(path, "a", encoding="utf-8") if path else None

    def next_seq(self):
        with self._lock:
            self._seq += 1
            return self._seq

    def write(self, entry):
        entry.setdefault("time", round(time.time(), 6))
        if "seq" not in entry:
            entry["seq"] = self.next_seq()
        line = json.dumps(entry, ensure_ascii=True, sort_keys=False)
        with self._lock:
            if self._file:
                self._file.write(line + "\n")
                self._file.flush()

    def clear(self):
        with self._lock:
            if self._file:
                self._file.seek(0)
                self._file.truncate()
                self._file.flush()


def text_of(data):
    """Bytes as JSON-safe text: UTF-8 where valid, U+FFFD otherwise (see the _hex fields)."""
    return bytes(data).decode("utf-8", "replace")


def is_utf8(data):
    try:
        bytes(data).decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def safe_component(name, fallback):
    """A single path component made from an arbitrary name, never escaping its folder."""
    name = re.sub(r"[/\\\x00]", "_", name).strip()
    if name in ("", ".", ".."):
        return fallback
    return name.encode("utf-8", "surrogateescape")[:200].decode("utf-8", "ignore") or fallback


def account_folder(user):
    if re.fullmatch(r"[A-Za-z0-9_-][A-Za-z0-9._-]*", user):
        return user
    return "u_" + user.encode("utf-8", "surrogateescape").hex()


class Registry:
    """Download and delete links handed out by upload replies and commits."""

    def __init__(self):
        self._lock = threading.Lock()
        self._links = {}

    def add(self, path, name, size, md5, origin):
        file_id = secrets.token_hex(6)
        kill = secrets.token_hex(8)
        with self._lock:
            self._links[file_id] = {"path": path, "name": name, "size": size, "md5": md5,
                                    "kill": kill, "origin": origin}
        return file_id, kill

    def find(self, file_id):
        with self._lock:
            return copy.deepcopy(self._links.get(file_id))

    def remove(self, file_id, kill):
        with self._lock:
            link = self._links.get(file_id)
            if not link or link["kill"] != kill:
                return None
            del self._links[file_id]
            return link


class MultipartParser:
    """Incremental multipart/form-data parser: text parts are kept, the file part streams to disk."""

    def __init__(self, boundary, open_file_sink, hash_files=True):
        self.delim = b"--" + boundary
        self.hash_files = hash_files
        self.open_file_sink = open_file_sink
        self.buf = bytearray()
        self.state = "preamble"
        self.preamble = bytearray()
        self.epilogue = bytearray()
        self.parts = []
        self.part = None
        self.sink = None
        self.error = None

    def feed(self, data):
        self.buf += data
        while self._step():
            pass

    def _step(self):
        buf = self.buf
        if self.state == "preamble":
            idx = buf.find(self.delim)
            if idx < 0:
                keep = len(self.delim) - 1
                if len(buf) > keep:
                    self._cap(self.preamble, buf[:len(buf) - keep])
                    del buf[:len(buf) - keep]
                return False
            self._cap(self.preamble, buf[:idx])
            del buf[:idx + len(self.delim)]
            self.state = "after_delim"
            return True
        if self.state == "after_delim":
            if len(buf) < 2:
                return False
            if buf[:2] == b"--":
                del buf[:2]
                self.state = "epilogue"
                return True
            if buf[:2] == b"\r\n":
                del buf[:2]
                self.state = "headers"
                return True
            self.error = "bad bytes after boundary: %r" % bytes(buf[:2])
            self.state = "epilogue"
            return True
        if self.state == "headers":
            if buf[:2] == b"\r\n":
                end, skip = 0, 2
            else:
                end = buf.find(b"\r\n\r\n")
                skip = 4
                if end < 0:
                    if len(buf) > SMALL_TEXT_CAP:
                        self.error = "part headers too long"
                        self.state = "epilogue"
                        return True
                    return False
            raw = bytes(buf[:end])
            del buf[:end + skip]
            self._start_part(raw)
            self.state = "data"
            return True
        if self.state == "data":
            marker = b"\r\n" + self.delim
            idx = buf.find(marker)
            if idx < 0:
                keep = len(marker) - 1
                if len(buf) > keep:
                    self._part_data(buf[:len(buf) - keep])
                    del buf[:len(buf) - keep]
                return False
            self._part_data(buf[:idx])
            del buf[:idx + len(marker)]
            self._end_part()
            self.state = "after_delim"
            return True
        if self.state == "epilogue":
            self._cap(self.epilogue, buf)
            del buf[:]
            return False
        return False

    @staticmethod
    def _cap(target, data):
        room = SMALL_TEXT_CAP - len(target)
        if room > 0:
            target += data[:room]

    def _start_part(self, raw):
        headers = []
        for line in raw.split(b"\r\n"):
            if not line:
                continue
            name, _, value = line.partition(b":")
            headers.append([text_of(name), text_of(value.strip())])
        part = {"raw_headers": text_of(raw), "headers": headers, "name": None, "filename": None,
                "content_type": None, "size": 0}
        if not is_utf8(raw):
            part["raw_headers_hex"] = raw.hex()
        for name, value in headers:
            lname = name.lower()
            if lname == "content-disposition":
                m = re.search(r';\s*name="(.*?)"', value)
                if m:
                    part["name"] = m.group(1)
                m = re.search(r';\s*filename="(.*)"\s*$', value)
                if m:
                    part["filename"] = m.group(1)
            elif lname == "content-type":
                part["content_type"] = value
        self.part = part
        self.md5 = hashlib.md5() if self.hash_files or part["filename"] is None else None
        if part["filename"] is not None:
            self.sink, part["path"] = self.open_file_sink(part)
            self.text = None
        else:
            self.sink = None
            self.text = bytearray()

    def _part_data(self, data):
        if not data:
            return
        self.part["size"] += len(data)
        if self.md5 is not None:
            self.md5.update(data)
        if self.sink is not None:
            self.sink.write(data)
        elif len(self.text) < TEXT_PART_CAP:
            self.text += data[:TEXT_PART_CAP - len(self.text)]

    def _end_part(self):
        part = self.part
        part["md5"] = self.md5.hexdigest().upper() if self.md5 is not None else None
        if self.sink is not None:
            self.sink.close()
            self.sink = None
        else:
            part["value"] = text_of(self.text)
            if not is_utf8(self.text):
                part["value_hex"] = bytes(self.text).hex()
        self.parts.append(part)
        self.part = None

    def finish(self):
        """Called at the end of the body; closes a part that never got its boundary."""
        if self.part is not None:
            self.part["incomplete"] = True
            self._part_data(bytes(self.buf))
            del self.buf[:]
            self._end_part()
            if not self.error:
                self.error = "body ended inside a part"
        elif self.state != "epilogue" and not self.error:
            self.error = "body ended before the closing boundary"
        return self.state == "epilogue" and not self.error

    def abort(self):
        if self.sink is not None:
            self.sink.close()
            self.sink = None


class DropConnection(Exception):
    pass


class Service:
    def __init__(self, args):
        self.args = args
        self.storage = os.path.abspath(args.storage)
        self.uploads_dir = os.path.join(self.storage, "uploads")
        self.accounts_dir = os.path.join(self.storage, "accounts")
        os.makedirs(self.uploads_dir, exist_ok=True)
        os.makedirs(self.accounts_dir, exist_ok=True)
        self.raw_dir = os.path.abspath(args.keep_raw) if args.keep_raw else None
        if self.raw_dir:
            os.makedirs(self.raw_dir, exist_ok=True)
        self.accounts = {}
        for given in args.account or []:
            user, sep, password = given.partition(":")
            if not sep or not user:
                raise SystemExit("--account takes user:password, got %r" % given)
            home = os.path.join(self.accounts_dir, account_folder(user))
            os.makedirs(home, exist_ok=True)
            self.accounts[user] = {"password": password, "home": home}
        initial = copy.deepcopy(DEFAULTS)
        for key in DEFAULTS:
            value = getattr(args, key, None)
            if value is not None:
                initial[key] = _coerce(key, value)
        if args.empty_list:
            initial["server_list"] = ""
        if args.faults:
            try:
                initial = State(initial).apply(json.loads(args.faults))
            except ValueError as err:
                raise SystemExit("--faults: %s" % err)
        self.state = State(initial)
        self.log = Log(args.log)
        self.registry = Registry()
        self.http_port = 0
        self.ftp_port = 0
        # Paths that redirects have pointed to; they stay served after the switch is off, so a
        # client can follow a one-time redirect.
        self.redirect_targets = set()

    def remember_redirect(self, location):
        target = urllib.parse.urlsplit(location).path or location
        self.redirect_targets.add(urllib.parse.unquote(target.partition("?")[0]))

    def control(self, message):
        """Applies one control message; returns the answer object."""
        try:
            state = self.state.apply(message)
            if message.get("clear_log"):
                self.log.clear()
            return {"ok": True, "state": state}
        except ControlError as err:
            return {"ok": False, "error": str(err)}

    def site(self):
        return "%s:%d" % (LOOPBACK, self.http_port)

    def reply_for(self, file_id, kill, name):
        """The upload reply: DOWNLOAD and DELETE lines, or what the switches ask for."""
        custom = self.state.get("reply_body")
        if custom is not None:
            return custom
        quoted = urllib.parse.quote(name, safe="", errors="surrogateescape")
        lines = []
        if not self.state.get("no_download"):
            lines.append("DOWNLOAD: http://%s/d/%s/%s" % (self.site(), file_id, quoted))
        lines.append("DELETE: http://%s/k/%s/%s" % (self.site(), file_id, kill))
        return "".join(line + "\r\n" for line in lines)


class HttpHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "BrimvaultStandIn/1.0"
    sys_version = ""
    timeout = 300  # a client that stalls this long mid-request is given up
    service = None  # set by main

    def log_message(self, fmt, *args):
        pass

    def version_string(self):
        return self.server_version

    def send_error(self, code, message=None, explain=None):
        # Requests refused before dispatch (a malformed request line, say a path with a raw
        # space) are logged too, so a test can see what the client sent.
        if getattr(self, "entry", None) is None and code != 408:
            raw = getattr(self, "raw_requestline", b"") or b""
            self.service.log.write({"proto": "http", "event": "bad_request", "status": code,
                                    "request_line": text_of(raw.rstrip(b"\r\n")),
                                    "client_port": self.client_address[1]})
        super().send_error(code, message, explain)

    # Every method goes through one dispatcher so that odd methods are logged too.
    def do_GET(self):
        self.dispatch()

    do_POST = do_PUT = do_DELETE = do_HEAD = do_OPTIONS = do_PATCH = do_GET

    def dispatch(self):
        svc = self.service
        target = self.path
        path, _, query = target.partition("?")
        self.entry = None
        self.body_read = False
        if path == "/__control":
            return self.handle_control()
        entry = {"seq": svc.log.next_seq(), "proto": "http", "method": self.command, "target": target,
                 "path": path, "query": query, "version": self.request_version,
                 "client_port": self.client_address[1],
                 "headers": [[k, v] for k, v in self.headers.items()]}
        self.entry = entry
        self.body_read = False
        try:
            failure = svc.state.take_failure(path)
            if failure:
                mode, status = failure
                entry["fault"] = "fail_next"
                if mode == "drop":
                    raise DropConnection()
                self.drain_body()
                return self.answer(status, "ERROR: temporary failure\r\n")
            location = svc.state.get("redirect_location")
            if location is not None and path == svc.state.get("redirect_path") and \
                    self.command in ("GET", "POST"):
                svc.state.fire("redirect_location", "redirect_times")
                svc.remember_redirect(location)
                entry["fault"] = "redirect"
                self.drain_body()
                return self.answer(svc.state.get("redirect_status"), "Moved\r\n",
                                   extra=[("Location", location)])
            self.route(path, query)
        except DropConnection:
            entry["dropped"] = True
            svc.log.write(entry)
            self.drop()
        except (ConnectionError, socket.timeout) as err:
            entry["error"] = "connection lost: %s" % err
            svc.log.write(entry)
            self.close_connection = True
        except Exception as err:  # a fault of the stand-in itself: say so on the wire and in the log
            entry["error"] = "internal error: %r" % err
            logging.exception("request %s failed", target)
            try:
                self.answer(500, "ERROR: internal error\r\n")
            except Exception:
                svc.log.write(entry)
            self.close_connection = True

    def route(self, path, query):
        svc = self.service
        method = self.command
        if path == UPLOAD_PATH or self.is_redirect_target(path):
            params = parse_query(query)
            if method == "POST":
                return self.handle_upload()
            if method == "GET" and params.get("action") == b"commit":
                return self.handle_commit(params)
            return self.answer(400, "ERROR: unknown action\r\n")
        if method not in ("GET", "HEAD"):
            self.drain_body()
            return self.answer(405, "Method not allowed\r\n")
        if path == "/uploadservers.txt":
            text = svc.state.get("server_list")
            if text is None:
                text = svc.site() + "\r\n"
            return self.answer(200, text)
        if path == "/quillouploader/version.txt":
            return self.answer(200, svc.state.get("version_text"))
        if path in ("/", "/quillouploader", "/quillouploader/", "/quillouploader/download"):
            return self.answer(200, "<html><body>Brimvault stand-in</body></html>\r\n",
                               content_type="text/html")
        m = re.fullmatch(r"/d/([0-9a-f]+)(/.*)?", path)
        if m:
            return self.handle_download(m.group(1))
        m = re.fullmatch(r"/k/([0-9a-f]+)/([0-9a-f]+)", path)
        if m:
            return self.handle_delete(m.group(1), m.group(2))
        return self.answer(404, "Not found\r\n")

    def is_redirect_target(self, path):
        return urllib.parse.unquote(path) in self.service.redirect_targets

    def handle_control(self):
        body = self.drain_body(keep=True)
        try:
            message = json.loads(body.decode("utf-8") or "{}") if self.command == "POST" else {"get": True}
            answer = self.service.control(message)
        except ValueError as err:
            answer = {"ok": False, "error": "bad JSON: %s" % err}
        self.answer(200 if answer["ok"] else 400, json.dumps(answer) + "\n",
                    content_type="application/json")

    # --- request bodies

    def body_chunks(self):
        """Yields the request body in chunks, applying the throttle and drop switches."""
        self.body_read = True
        svc = self.service
        entry = self.entry
        # The control channel itself is never subject to the faults.
        faulty = entry is not None and self.has_body()
        drop_after = svc.state.fire("drop_after") if faulty else -1
        throttle = svc.state.get("throttle") if faulty else 0
        received = 0
        started = time.monotonic()
        if entry is not None:
            entry["body_size"] = 0
        for chunk in self.raw_body_chunks():
            if drop_after >= 0 and received + len(chunk) >= drop_after:
                chunk = chunk[:drop_after - received]
                received += len(chunk)
                if entry is not None:
                    entry["body_size"] = received
                    entry["fault"] = "drop_after"
                if chunk:
                    yield chunk
                raise DropConnection()
            received += len(chunk)
            if entry is not None:
                entry["body_size"] = received
            yield chunk
            if throttle > 0:
                ahead = received / throttle - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)

    def has_body(self):
        return "Content-Length" in self.headers or \
            "chunked" in self.headers.get("Transfer-Encoding", "").lower()

    def raw_body_chunks(self):
        throttle = self.service.state.get("throttle") if self.entry is not None else 0
        size = CHUNK if throttle <= 0 else max(1024, min(CHUNK, throttle // 10))
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            while True:
                line = self.rfile.readline(1024)
                if not line:
                    raise ConnectionError("body ended early")
                length = int(line.split(b";")[0].strip() or b"0", 16)
                if length == 0:
                    while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                        pass
                    return
                while length > 0:
                    data = self.rfile.read(min(size, length))
                    if not data:
                        raise ConnectionError("body ended early")
                    length -= len(data)
                    yield data
                self.rfile.readline(16)
            return
        try:
            remaining = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            remaining = 0
        while remaining > 0:
            data = self.rfile.read1(min(size, remaining)) if hasattr(self.rfile, "read1") else \
                self.rfile.read(min(size, remaining))
            if not data:
                raise ConnectionError("body ended %d bytes short" % remaining)
            remaining -= len(data)
            yield data

    def drain_body(self, keep=False):
        kept = bytearray()
        raw = self.open_raw()
        try:
            for chunk in self.body_chunks():
                if raw:
                    raw.write(chunk)
                if keep and len(kept) < TEXT_PART_CAP:
                    kept += chunk
        finally:
            if raw:
                raw.close()
        return bytes(kept)

    def open_raw(self):
        svc = self.service
        if not svc.raw_dir or self.entry is None or not self.has_body():
            return None
        path = os.path.join(svc.raw_dir, "%06d.body" % self.entry["seq"])
        self.entry["raw_body"] = path
        return open(path, "wb")

    # --- the service's operations

    def handle_upload(self):
        svc = self.service
        entry = self.entry
        ctype = self.headers.get("Content-Type", "")
        m = re.search(r'boundary=("?)([^";]+)\1', ctype, re.IGNORECASE)
        upload_dir = os.path.join(svc.uploads_dir, secrets.token_hex(6))

        store = svc.state.get("store_uploads")

        def open_file_sink(part):
            if not store:
                return open(os.devnull, "wb"), None
            os.makedirs(upload_dir, exist_ok=True)
            path = os.path.join(upload_dir, safe_component(part["filename"], "file"))
            return open(path, "wb"), path

        if not ctype.lower().startswith("multipart/form-data") or not m:
            body = self.drain_body(keep=True)
            entry["body_text"] = text_of(body[:SMALL_TEXT_CAP])
            svc.log.write(entry)
            return self.answer(400, "ERROR: expected a multipart/form-data body\r\n")

        boundary = m.group(2).strip().encode("latin-1")
        parser = MultipartParser(boundary, open_file_sink, svc.state.get("hash_uploads"))
        raw = self.open_raw()
        try:
            for chunk in self.body_chunks():
                if raw:
                    raw.write(chunk)
                parser.feed(chunk)
        except BaseException:
            # A broken upload leaves nothing behind in the storage.
            parser.abort()
            shutil.rmtree(upload_dir, ignore_errors=True)
            entry["form"] = self.form_log(parser, complete=False)
            raise
        finally:
            if raw:
                raw.close()
        complete = parser.finish()
        entry["form"] = form = self.form_log(parser, complete)
        status = svc.state.fire("upload_status")
        files = [p for p in parser.parts if p.get("filename") is not None]
        if status:
            shutil.rmtree(upload_dir, ignore_errors=True)
            entry["fault"] = "upload_status"
            return self.answer(status, "ERROR: upload refused\r\n")
        if not complete or len(files) != 1:
            shutil.rmtree(upload_dir, ignore_errors=True)
            reason = parser.error or "expected exactly one file part"
            entry["upload_error"] = reason
            return self.answer(400, "ERROR: %s\r\n" % reason)
        part = files[0]
        if part["path"] is None:
            part["path"] = os.devnull  # discarded: its links answer 404
        file_id, kill = svc.registry.add(part["path"], part["filename"], part["size"], part["md5"], "http")
        entry["stored"] = {"id": file_id, "path": part["path"], "size": part["size"], "md5": part["md5"],
                           "name": part["filename"]}
        form["file"] = {"field": part["name"], "filename": part["filename"],
                        "content_type": part["content_type"], "size": part["size"], "md5": part["md5"],
                        "path": part["path"]}
        return self.answer(200, svc.reply_for(file_id, kill, part["filename"]))

    @staticmethod
    def form_log(parser, complete):
        fields = []
        for p in parser.parts:
            if p.get("filename") is None:
                f = {"name": p["name"], "value": p.get("value", "")}
                if "value_hex" in p:
                    f["value_hex"] = p["value_hex"]
                fields.append(f)
        parts = []
        for p in parser.parts:
            q = {k: v for k, v in p.items() if k not in ("value", "value_hex")}
            parts.append(q)
        return {"complete": complete, "error": parser.error, "preamble": text_of(parser.preamble),
                "epilogue": text_of(parser.epilogue), "fields": fields, "parts": parts}

    def handle_commit(self, params):
        svc = self.service
        entry = self.entry
        self.drain_body()
        commit = {k: text_of(params.get(k, b"")) for k in ("user", "pass", "filename", "size", "md5")}
        entry["commit"] = commit
        status = svc.state.fire("upload_status")
        if status:
            entry["fault"] = "upload_status"
            return self.answer(status, "ERROR: commit refused\r\n")
        reason = None
        path = None
        user = params.get("user", b"").decode("utf-8", "surrogateescape")
        filename = params.get("filename", b"").decode("utf-8", "surrogateescape")
        account = svc.accounts.get(user)
        if account is None or account["password"] != params.get("pass", b"").decode("utf-8",
                                                                                    "surrogateescape"):
            reason = "Invalid login"
        elif not filename or "/" in filename or filename in (".", ".."):
            reason = "Invalid file name"
        else:
            path = os.path.join(account["home"], filename)
            size_text = params.get("size", b"").decode("ascii", "replace")
            if not os.path.isfile(path):
                reason = "File not found"
            elif not size_text.isdigit() or int(size_text) != os.path.getsize(path):
                reason = "Size mismatch"
            else:
                digest = file_md5(path)
                if digest.lower() != params.get("md5", b"").decode("ascii", "replace").lower():
                    reason = "MD5 mismatch"
        if reason:
            commit["ok"] = False
            commit["reason"] = reason
            return self.answer(svc.state.get("commit_error_status"), "ERROR: %s\r\n" % reason)
        size = os.path.getsize(path)
        file_id, kill = svc.registry.add(path, filename, size, digest.upper(), "ftp")
        commit["ok"] = True
        entry["stored"] = {"id": file_id, "path": path, "size": size, "md5": digest.upper(),
                           "name": text_of(params.get("filename", b""))}
        return self.answer(200, svc.reply_for(file_id, kill, filename))

    def handle_download(self, file_id):
        link = self.service.registry.find(file_id)
        if not link or not os.path.isfile(link["path"]):
            return self.answer(404, "File not found\r\n")
        size = os.path.getsize(link["path"])
        self.entry["status"] = 200
        self.entry["reply_size"] = size
        self.service.log.write(self.entry)
        self.pause()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command == "HEAD":
            return
        with open(link["path"], "rb") as f:
            while True:
                data = f.read(CHUNK)
                if not data:
                    break
                self.wfile.write(data)

    def handle_delete(self, file_id, kill):
        link = self.service.registry.remove(file_id, kill)
        if not link:
            return self.answer(404, "File not found\r\n")
        # Only files inside the storage are ever removed.
        if link["path"].startswith(self.service.storage + os.sep):
            try:
                os.remove(link["path"])
            except OSError:
                pass
        self.entry["deleted"] = link["path"]
        return self.answer(200, "File deleted\r\n")

    # --- answers

    def pause(self):
        svc = self.service
        delay = svc.state.get("delay")
        if delay > 0 and self.entry is not None and \
                self.entry["path"].startswith(svc.state.get("delay_path")):
            svc.state.fire("delay")
            self.entry["delayed"] = delay
            time.sleep(delay)

    def answer(self, status, text, content_type="text/plain", extra=()):
        if not self.body_read and self.entry is not None:
            self.drain_body()
        body = text.encode("utf-8")
        if self.entry is not None:
            self.entry["status"] = status
            self.entry["reply"] = text[:SMALL_TEXT_CAP]
            self.service.log.write(self.entry)
            self.pause()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        if self.entry is not None:
            for cookie in self.service.state.get("set_cookie"):
                self.send_header("Set-Cookie", cookie)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def drop(self):
        self.close_connection = True
        try:
            # Reset rather than close politely, so the peer sees the loss while still sending.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class HttpServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128  # many parallel uploads connect at once; never make them wait for SYN retries


def parse_query(query):
    """Query keys to raw bytes values; every %XX is decoded, '+' is kept as it is."""
    params = {}
    for item in query.split("&"):
        if not item:
            continue
        key, _, value = item.partition("=")
        key = urllib.parse.unquote(key)
        if key not in params:
            params[key] = urllib.parse.unquote_to_bytes(value)
    return params


def file_md5(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        while True:
            data = f.read(CHUNK)
            if not data:
                break
            h.update(data)
    return h.hexdigest()


class DroppingDTPHandler(ThrottledDTPHandler):
    """Data channel that can stop receiving after a set number of bytes, or receive slowly."""

    service = None

    def __init__(self, sock, cmd_channel):
        self.read_limit = self.service.state.get("ftp_throttle")
        super().__init__(sock, cmd_channel)
        self.drop_after = -1

    def enable_receiving(self, type, cmd):
        self.drop_after = self.service.state.fire("ftp_drop_after")
        super().enable_receiving(type, cmd)

    def handle_read(self):
        if self.drop_after < 0:
            return super().handle_read()
        try:
            chunk = self.recv(self.ac_in_buffer_size)
        except OSError:
            return self.handle_error()
        if not chunk:
            self.transfer_finished = True
            return
        room = self.drop_after - self.tot_bytes_received
        self.tot_bytes_received += len(chunk)
        if len(chunk) < room:
            self.file_obj.write(chunk)
            return
        self.file_obj.write(chunk[:max(room, 0)])
        self.tot_bytes_received = self.drop_after
        self.cmd_channel.log_event({"event": "fault", "fault": "ftp_drop_after", "bytes": self.drop_after})
        mode = self.service.state.get("ftp_drop_mode")
        cmd_channel = self.cmd_channel
        if mode == "data":
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.close()
        else:
            self._resp = None
            self.close()
            cmd_channel.close()

    # The base class binds the read event to its own handle_read; rebind it to ours.
    handle_read_event = handle_read

    def close(self):
        if not self._closed and self.file_obj is not None and self.receive:
            size = None
            try:
                self.file_obj.flush()
                size = os.fstat(self.file_obj.fileno()).st_size
            except (OSError, ValueError):
                pass
            # Logged before the final reply goes out, so a client that saw 226 finds the entry.
            self.cmd_channel.log_event({"event": "transfer_end", "cmd": self.cmd,
                                        "completed": bool(self.transfer_finished),
                                        "bytes": self.tot_bytes_received,
                                        "file": self.file_obj.name, "file_size": size})
        super().close()


class LoggingFTPHandler(FTPHandler):
    service = None
    banner = "Brimvault stand-in FTP ready."
    # File names are bytes, as on a real server: a name that is not UTF-8 is stored as it was sent.
    unicode_errors = "surrogateescape"

    def log_event(self, entry):
        base = {"proto": "ftp", "client_port": self.remote_port, "user": self.username or None}
        base.update(entry)
        self.service.log.write(base)

    def on_connect(self):
        self.log_event({"event": "connect"})
        if self.service.state.take_count("ftp_refuse_next"):
            self.log_event({"event": "fault", "fault": "ftp_refuse_next"})
            self.respond("421 Service not available, closing control connection.")
            self.close_when_done()

    def on_disconnect(self):
        self.log_event({"event": "disconnect"})

    def on_login(self, username):
        self.log_event({"event": "login", "user": username})

    def on_login_failed(self, username, password):
        self.log_event({"event": "login_failed", "user": username})

    def pre_process_command(self, line, cmd, arg):
        self.log_event({"event": "command", "line": line, "cmd": cmd, "arg": arg})
        return super().pre_process_command(line, cmd, arg)

    def respond(self, resp, logfun=logging.debug):
        self.log_event({"event": "reply", "line": resp})
        return super().respond(resp, logfun)

    def ftp_SIZE(self, path):
        reply = self.service.state.fire("ftp_size_reply")
        if reply is not None:
            return self.respond(reply)
        return super().ftp_SIZE(path)


def write_ready(path, info):
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".ready-", dir=directory)
    with os.fdopen(fd, "w") as f:
        json.dump(info, f)
    os.replace(tmp, path)


def parse_args(argv):
    p = argparse.ArgumentParser(description="Local stand-in of the Brimvault service (loopback only).")
    p.add_argument("--http-port", type=int, default=0, help="HTTP port (0 = any free port)")
    p.add_argument("--ftp-port", type=int, default=0, help="FTP port (0 = any free port)")
    p.add_argument("--storage", required=True, help="folder for uploaded files")
    p.add_argument("--account", action="append", help="user:password (repeatable)")
    p.add_argument("--ready-file", help="written (atomically) with the ports once serving")
    p.add_argument("--log", help="JSON-lines log of every request")
    p.add_argument("--keep-raw", metavar="DIR", help="keep every raw request body in DIR")
    p.add_argument("--parent-pid", type=int, help="exit when this process is gone")
    p.add_argument("--control-stdin", action="store_true",
                   help="read control messages (JSON lines) on stdin, answer on stdout; exit on EOF")
    p.add_argument("--version-number", dest="version_text", help="number served as version.txt")
    p.add_argument("--faults", metavar="JSON", help="initial switches as a JSON object")
    p.add_argument("--empty-list", action="store_true", help="serve an empty upload server list")
    for key, default in DEFAULTS.items():
        if key == "version_text":
            continue
        flag = "--" + key.replace("_", "-")
        if isinstance(default, bool):
            p.add_argument(flag, dest=key, nargs="?", const=True, default=None)  # --x, --x false
        elif isinstance(default, list):
            p.add_argument(flag, dest=key, action="append", default=None)
        else:
            p.add_argument(flag, dest=key, default=None)
    return p.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    logging.basicConfig(stream=sys.stderr, level=logging.WARNING)
    logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
    try:
        service = Service(args)
    except ControlError as err:
        raise SystemExit("brimvault_service: %s" % err)

    HttpHandler.service = service
    httpd = HttpServer((LOOPBACK, args.http_port), HttpHandler)
    service.http_port = httpd.server_address[1]

    authorizer = DummyAuthorizer()
    for user, account in service.accounts.items():
        authorizer.add_user(user, account["password"], account["home"], perm="elradfmwMT")
    LoggingFTPHandler.service = service
    DroppingDTPHandler.service = service
    LoggingFTPHandler.authorizer = authorizer
    LoggingFTPHandler.dtp_handler = DroppingDTPHandler
    LoggingFTPHandler.permit_foreign_addresses = False
    ftpd = FTPServer((LOOPBACK, args.ftp_port), LoggingFTPHandler)
    service.ftp_port = ftpd.socket.getsockname()[1]

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *a: stop.set())
    signal.signal(signal.SIGINT, lambda *a: stop.set())

    threading.Thread(target=httpd.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    threading.Thread(target=lambda: ftpd.serve_forever(timeout=0.2, handle_exit=False),
                     daemon=True).start()

    if args.control_stdin:
        def read_control():
            for line in sys.stdin.buffer:
                line = line.strip()
                if not line:
                    continue
                try:
                    message = json.loads(line.decode("utf-8"))
                    answer = service.control(message)
                    if isinstance(message, dict) and "id" in message:
                        answer["id"] = message["id"]
                except ValueError as err:
                    answer = {"ok": False, "error": "bad JSON: %s" % err}
                sys.stdout.write(json.dumps(answer) + "\n")
                sys.stdout.flush()
            stop.set()  # stdin closed: whoever started us is gone
        threading.Thread(target=read_control, daemon=True).start()

    info = {"http_port": service.http_port, "ftp_port": service.ftp_port, "pid": os.getpid(),
            "storage": service.storage,
            "accounts": {user: a["home"] for user, a in service.accounts.items()}}
    if args.ready_file:
        write_ready(args.ready_file, info)
    else:
        sys.stderr.write(json.dumps(info) + "\n")

    parent = os.getppid()
    while not stop.wait(0.5):
        if os.getppid() != parent:
            break
        if args.parent_pid:
            try:
                os.kill(args.parent_pid, 0)
            except ProcessLookupError:
                break
            except PermissionError:
                pass
    httpd.server_close()
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(0)


if __name__ == "__main__":
    main(sys.argv[1:])
