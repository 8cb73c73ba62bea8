#!/usr/bin/python3
"""A small mail world for delivery tests: one DNS server and SMTP servers on loopback addresses.

Run it inside a network namespace of its own (see run_in_netns.sh). The world file lists DNS records and
SMTP servers, one per line; DNS answers keep the records in file order:

    b.test      MX        20 mxa.b.test     # preference 20 listed first, and answered first
    mxa.b.test  A         127.0.0.2
    mx6.b.test  AAAA      fd00::2
    null.test   MX        0 .                   # a domain that takes no mail (RFC 7505)
    c.test      CNAME     b.test            # put into the answer section of any query for c.test
    gone.test   NXDOMAIN
    fail.test   SERVFAIL
    quiet.test  SILENT                      # the query is never answered
    @smtp       127.0.0.2 accept            # an SMTP server on 127.0.0.2:25 (modes below); ::1 and
                                            # fd00::N serve IPv6
    @postfix    127.0.0.16 postfix.test     # a real Postfix on 127.0.0.16:25 for the domain postfix.test
    @relay      127.0.0.16 relay.test       # a submission server: 587 STARTTLS, 465 TLS, AUTH required
    @relay      127.0.0.3 a.test,b.test noauth   # names for its certificate; modes: noauth, apppass
    _submissions._tcp.a.test SRV 10 5 465 smtp.a.test   # priority weight port target ("." for none)
    @https      127.0.0.4 autoconfig.a.test smtp.a.test:465:SSL      # a client-configuration file
    @https      127.0.0.5 b.test smtp.b.test:587:STARTTLS untrusted # its certificate verifies for nobody
    @hang       127.0.0.6 443,465,587       # takes connections and never says a word

Names absent from the file get NXDOMAIN; a name present without records of the asked type gets NODATA.
Every DNS query is appended to LOG/dns.log as "name type". Messages accepted by the aiosmtpd servers go to
LOG/ADDRESS/N.eml (bytes as received, after the end-of-data line) and N.env (sender and recipients); the
raw servers write every byte of connection N to LOG/ADDRESS/N.raw, the sizes of the segments received
during DATA to N.seg, and N.done once the connection has ended.

A Postfix runs with its own configuration, queue and log in LOG/postfix (started here, ended here by
pid): STARTTLS with a certificate made at start, "reject_non_fqdn_helo_hostname", every recipient of its
domain accepted into the maildir LOG/postfix/mail/box/ except refused@DOMAIN, which RCPT refuses; its log
is LOG/postfix/maillog.

A relay (aiosmtpd) listens on 587 (STARTTLS required) and 465 (TLS from the start), both asking AUTH
PLAIN or LOGIN of user "sender" with password "right horse"; its certificate names the relay's hosts and
is signed by the world's one test authority, made at start, LOG/test-ca.pem (also LOG/relay-ca.pem; trust
it with SSL_CERT_FILE). What it accepts goes to LOG/ADDRESS/N.eml and N.env as with "accept". Mode
"noauth" offers no AUTH at all; "apppass" refuses every login with 534 5.7.9 as providers do that want an
app-specific password.

An HTTPS server (port 443) answers for one host name with a client-configuration file naming the given
outgoing server (SSL or STARTTLS), at /mail/config-v1.1.xml for an autoconfig.* host and at
/.well-known/autoconfig/mail/config-v1.1.xml for any other; every request is logged to LOG/https.log as
"host path". Its certificate comes from the test authority, or with "untrusted" from an authority of its
own that nobody trusts.

Prints "ready" on standard output once every server listens.
"""

import argparse
import asyncio
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

from aiosmtpd.smtp import SMTP

# ---------------------------------------------------------------------------------------------- DNS

TYPES = {"A": 1, "CNAME": 5, "MX": 15, "TXT": 16, "AAAA": 28, "SRV": 33}
TYPE_NAMES = {v: k for k, v in TYPES.items()}


def encode_name(name):
    out = b""
    for label in name.rstrip(".").split("."):
        if label:
            raw = label.encode()
            out += bytes([len(raw)]) + raw
    return out + b"\0"


def decode_name(packet, offset):
    labels = []
    while True:
        length = packet[offset]
        offset += 1
        if length == 0:
            return ".".join(labels), offset
        labels.append(packet[offset:offset + length].decode("latin-1"))
        offset += length


class Zone:
    def __init__(self):
        self.records = []  # (name, type, value) in file order
        self.smtp = []     # (address, mode)
        self.postfix = []  # (address, domain)
        self.relays = []   # (address, host names, mode)
        self.https = []    # (address, host name, outgoing server, trusted)
        self.hangs = []    # (address, ports)

    def load(self, path):
        with open(path, encoding="utf-8") as f:
            for raw in f:
                line = raw.split("#", 1)[0].strip()
                if not line:
                    continue
                parts = line.split()
                if parts[0] == "@smtp":
                    self.smtp.append((parts[1], parts[2]))
                elif parts[0] == "@relay":
                    self.relays.append((parts[1], parts[2].split(","), parts[3] if len(parts) > 3 else "auth"))
                elif parts[0] == "@https":
                    self.https.append((parts[1], parts[2], parts[3], "untrusted" not in parts[4:]))
                elif parts[0] == "@hang":
                    self.hangs.append((parts[1], [int(p) for p in parts[2].split(",")]))
                elif parts[0] == "@postfix":
                    self.postfix.append((parts[1], parts[2]))
                else:
                    self.records.append((parts[0].lower().rstrip("."), parts[1], parts[2:]))

    def of(self, name):
        return [r for r in self.records if r[0] == name.lower().rstrip(".")]


def rdata(rtype, value):
    if rtype == "A":
        return bytes(int(x) for x in value[0].split("."))
    if rtype == "AAAA":
        return socket.inet_pton(socket.AF_INET6, value[0])
    if rtype == "MX":
        return struct.pack("!H", int(value[0])) + encode_name(value[1])
    if rtype == "CNAME":
        return encode_name(value[0])
    if rtype == "SRV":
        return struct.pack("!HHH", int(value[0]), int(value[1]), int(value[2])) + encode_name(value[3])
    if rtype == "TXT":
        text = " ".join(value).encode()
        return bytes([len(text)]) + text
    raise ValueError(rtype)


class DnsServer(asyncio.DatagramProtocol):
    def __init__(self, zone, log_dir):
        self.zone = zone
        self.log = open(os.path.join(log_dir, "dns.log"), "a", buffering=1)

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, packet, peer):
        try:
            reply = self.answer(packet)
        except Exception as e:  # a broken query is worth a line in the log, not a dead server
            self.log.write("error %r\n" % (e,))
            return
        if reply is not None:
            self.transport.sendto(reply, peer)

    def answer(self, packet):
        qid, flags, qdcount = struct.unpack("!HHH", packet[:6])
        name, offset = decode_name(packet, 12)
        qtype, qclass = struct.unpack("!HH", packet[offset:offset + 4])
        question = packet[12:offset + 4]
        self.log.write("%s %s\n" % (name, TYPE_NAMES.get(qtype, qtype)))
        records = self.zone.of(name)
        kinds = {r[1] for r in records}
        rcode = 0
        answers = []
        if "SILENT" in kinds:
            return None
        if not records or "NXDOMAIN" in kinds:
            rcode = 3
        elif "SERVFAIL" in kinds:
            rcode = 2
        else:
            for rname, rtype, value in records:
                if rtype in TYPES and (TYPES[rtype] == qtype or rtype == "CNAME"):
                    data = rdata(rtype, value)
                    answers.append(encode_name(rname) + struct.pack("!HHIH", TYPES[rtype], 1, 60, len(data)) + data)
        rd = flags & 0x0100
        header = struct.pack("!HHHHHH", qid, 0x8000 | 0x0400 | rd | 0x0080 | rcode, 1, len(answers), 0, 0)
        return header + question + b"".join(answers)


# --------------------------------------------------------------------------------------------- SMTP

class Store:
    """Numbered files per server address."""

    def __init__(self, log_dir, address):
        self.dir = os.path.join(log_dir, address)
        os.makedirs(self.dir, exist_ok=True)
        self.count = 0

    def next(self):
        self.count += 1
        return os.path.join(self.dir, str(self.count))


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


class Handler:
    """aiosmtpd handler: accept and store, refuse RCPT with 550, answer the end of data with 451, or
    greylist: 450 to the first RCPT of each sender and recipient pair, 250 to every later one."""

    def __init__(self, mode, store):
        self.mode = mode
        self.store = store
        self.seen = set()  # greylist: (sender, recipient) pairs tried before

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "refuse-rcpt":
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        if self.mode == "greylist" and (envelope.mail_from, address) not in self.seen:
            self.seen.add((envelope.mail_from, address))
            return "450 4.2.0 <%s>: Recipient address rejected: Greylisted, try again later" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "tempfail-data":
            return "451 4.3.0 Try again later"
        base = self.store.next()
        write(base + ".eml", envelope.original_content)
        write(base + ".env", json.dumps({"helo": session.host_name, "from": envelope.mail_from,
                                         "to": envelope.rcpt_tos}).encode())
        return "250 OK stored"


class RawSmtp(asyncio.Protocol):
    """A hand-written server for the modes a proper SMTP library would never show.

    record              accepts everything, keeps every byte and the segment sizes during DATA
    greet-554           refuses at the greeting
    silent              never says anything
    split-greeting      a two-line greeting whose second line comes in a later segment
    multiline-helo      answers HELO with three lines in one segment
    rcpt-251            answers RCPT with 251 (a success code, but not the one expected)
    helo-25             answers HELO with the two characters "25"
    close-mid-transfer  closes the connection once some message data has come in
    size-small          announces SIZE 1000
    tls-broken          offers STARTTLS, says 220 to it and then closes instead of a handshake
    drip                sends its greeting one byte a second
    silent-after-data   takes everything but never answers the end of data
    mute-quit           takes the mail but never answers QUIT, nor closes

    "record", "silent-after-data", "mute-quit", "size-small" and "tls-broken" answer EHLO; the others are servers of the
    old kind, which refuse it (502).
    """

    def __init__(self, mode, store):
        self.mode = mode
        self.base = store.next()
        self.raw = bytearray()
        self.segments = []
        self.buffer = b""
        self.in_data = False
        self.data_seen = 0

    def connection_made(self, transport):
        self.transport = transport
        if self.mode == "greet-554":
            self.send(b"554 5.3.2 No service here\r\n")
        elif self.mode == "silent":
            pass
        elif self.mode == "drip":
            asyncio.get_running_loop().create_task(self.drip(b"220 mx.test ready, one byte at a time\r\n"))
        elif self.mode == "split-greeting":
            self.send(b"220-mx.test first line of a long greeting\r\n")
            asyncio.get_running_loop().call_later(0.3, self.send, b"220 mx.test ready\r\n")
        else:
            self.send(b"220 mx.test ready\r\n")

    def send(self, data):
        if not self.transport.is_closing():
            self.transport.write(data)

    async def drip(self, data):
        for i in range(len(data)):
            if self.transport.is_closing():
                return
            self.send(data[i:i + 1])
            await asyncio.sleep(1)

    def data_received(self, data):
        self.raw += data
        if self.in_data:
            self.segments.append(len(data))
        self.buffer += data
        while True:
            if self.in_data:
                self.data_seen += len(data)
                data = b""
                if self.mode == "close-mid-transfer" and self.data_seen >= 1000:
                    self.transport.abort()
                    return
                end = self.buffer.find(b"\r\n.\r\n")
                if end < 0:
                    # keep only what could still be the start of the end-of-data line
                    self.buffer = self.buffer[-4:]
                    return
                self.buffer = self.buffer[end + 5:]
                self.in_data = False
                if self.mode != "silent-after-data":
                    self.send(b"250 2.0.0 Ok: queued\r\n")
                continue
            line_end = self.buffer.find(b"\r\n")
            if line_end < 0:
                return
            line = self.buffer[:line_end].decode("latin-1")
            self.buffer = self.buffer[line_end + 2:]
            self.command(line)

    def command(self, line):
        verb = line[:4].upper()
        if verb == "EHLO":
            if self.mode in ("record", "silent-after-data", "mute-quit"):
                self.send(b"250-mx.test\r\n250-SMTPUTF8\r\n250 8BITMIME\r\n")
            elif self.mode == "size-small":
                self.send(b"250-mx.test\r\n250-SMTPUTF8\r\n250 SIZE 1000\r\n")
            elif self.mode == "tls-broken":
                self.send(b"250-mx.test\r\n250-SMTPUTF8\r\n250 STARTTLS\r\n")
            else:
                self.send(b"502 5.5.2 Error: command not recognized\r\n")
        elif verb == "STAR" and self.mode == "tls-broken":
            self.send(b"220 2.0.0 Ready to start TLS\r\n")
            self.transport.close()
        elif verb == "HELO":
            if self.mode == "multiline-helo":
                self.send(b"250-mx.test greets you\r\n250-SIZE 10240000\r\n250 HELP\r\n")
            elif self.mode == "helo-25":
                self.send(b"25\r\n")
            else:
                self.send(b"250 mx.test\r\n")
        elif verb == "MAIL":
            self.send(b"250 2.1.0 Ok\r\n")
        elif verb == "RCPT":
            if self.mode == "rcpt-251":
                self.send(b"251 2.1.5 User not local; will forward\r\n")
            else:
                self.send(b"250 2.1.5 Ok\r\n")
        elif verb == "DATA":
            self.in_data = True
            self.buffer = b"\r\n" + self.buffer  # the end-of-data line may follow the 354 at once
            self.send(b"354 End data with <CR><LF>.<CR><LF>\r\n")
        elif verb == "QUIT" and self.mode == "mute-quit":
            pass
        elif verb == "QUIT":
            self.send(b"221 2.0.0 Bye\r\n")
            self.transport.close()
        else:
            self.send(b"502 5.5.2 Error: command not recognized\r\n")

    def connection_lost(self, exc):
        write(self.base + ".raw", bytes(self.raw))
        write(self.base + ".seg", "".join("%d\n" % n for n in self.segments).encode())
        write(self.base + ".done", b"")


# ------------------------------------------------------------------------------------------- Postfix

POSTFIX_MASTER_CF = """\
smtp      inet  n       -       n       -       -       smtpd
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
smtp      unix  -       -       n       -       -       smtp
relay     unix  -       -       n       -       -       smtp
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
"""


def start_postfix(log_dir, address, domain):
    """Configures and starts a Postfix of our own; returns its master process."""
    base = os.path.join(log_dir, "postfix")
    etc, queue, data, mail = (os.path.join(base, d) for d in ("etc", "queue", "data", "mail"))
    for d in (etc, queue, data, mail):
        os.makedirs(d, exist_ok=True)
    os.chmod(log_dir, 0o755)
    os.chmod(base, 0o755)
    shutil.chown(data, "postfix")
    shutil.chown(mail, "nobody", "nogroup")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", os.path.join(etc, "key.pem"), "-out", os.path.join(etc, "cert.pem"), "-days", "1",
                    "-subj", "/CN=mx." + domain], check=True, capture_output=True)
    nobody = os.stat(mail).st_uid
    main_cf = f"""\
compatibility_level = 3.6
queue_directory = {queue}
data_directory = {data}
maillog_file = {base}/maillog
maillog_file_prefixes = {base}
myhostname = mx.{domain}
mydomain = {domain}
myorigin = {domain}
mydestination =
inet_interfaces = {address}
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
alias_maps =
alias_database =
virtual_mailbox_domains = {domain}
virtual_mailbox_base = {mail}
virtual_mailbox_maps = static:box/
virtual_uid_maps = static:{nobody}
virtual_gid_maps = static:{os.stat(mail).st_gid}
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_non_fqdn_helo_hostname
smtpd_recipient_restrictions = check_recipient_access inline:{{ {{ refused@{domain} = REJECT No such person here }} }}, permit_mynetworks, reject_unauth_destination
smtpd_tls_security_level = may
smtpd_tls_cert_file = {etc}/cert.pem
smtpd_tls_key_file = {etc}/key.pem
smtpd_tls_loglevel = 1
"""
    with open(os.path.join(etc, "main.cf"), "w") as f:
        f.write(main_cf)
    with open(os.path.join(etc, "master.cf"), "w") as f:
        f.write(POSTFIX_MASTER_CF)
    # "check" makes the queue's folders with their owners and modes.
    subprocess.run(["postfix", "-c", etc, "check"], capture_output=True)
    master = subprocess.Popen(["/usr/lib/postfix/sbin/master", "-c", etc, "-d"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return master


async def wait_listening(address, port, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        try:
            reader, writer = await asyncio.open_connection(address, port)
            await reader.readline()
            writer.close()
            return True
        except OSError:
            await asyncio.sleep(0.1)
    return False


# -------------------------------------------------------------------------------------------- Relay

class TestAuthority:
    """A certificate authority made for this world: certificates it signs verify only for whoever trusts
    LOG/test-ca.pem."""

    def __init__(self, log_dir, name="test-ca"):
        self.dir = os.path.join(log_dir, name)
        os.makedirs(self.dir, exist_ok=True)
        self.key, self.cert = os.path.join(self.dir, "ca.key"), os.path.join(self.dir, "ca.pem")
        self.run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                 "-keyout", self.key, "-out", self.cert, "-days", "1", "-subj", "/CN=VoxLetter " + name)
        self.count = 0

    @staticmethod
    def run(*a):
        subprocess.run(list(a), check=True, capture_output=True)

    def context(self, hosts):
        """An SSL server context with a certificate for hosts signed by this authority."""
        import ssl
        self.count += 1
        key, csr, cert, ext = (os.path.join(self.dir, "%d.%s" % (self.count, n)) for n in ("key", "csr", "pem", "cnf"))
        self.run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key,
                 "-out", csr, "-subj", "/CN=" + hosts[0])
        with open(ext, "w") as f:
            f.write("subjectAltName=%s\n" % ",".join("DNS:" + h for h in hosts))
        self.run("openssl", "x509", "-req", "-in", csr, "-CA", self.cert, "-CAkey", self.key, "-CAcreateserial",
                 "-out", cert, "-days", "1", "-extfile", ext)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        return context


def relay_authenticator(server, session, envelope, mechanism, auth_data):
    from aiosmtpd.smtp import AuthResult
    ok = auth_data.login == b"sender" and auth_data.password == b"right horse"
    return AuthResult(success=ok, handled=False)


def app_password_authenticator(server, session, envelope, mechanism, auth_data):
    from aiosmtpd.smtp import AuthResult
    return AuthResult(success=False, handled=False,
                      message="534 5.7.9 Application-specific password required")


CLIENT_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<clientConfig version="1.1">
  <emailProvider id="{domain}">
    <domain>{domain}</domain>
    <incomingServer type="imap">
      <hostname>imap.{domain}</hostname><port>993</port><socketType>SSL</socketType>
      <username>%EMAILADDRESS%</username>
    </incomingServer>
    <outgoingServer type="smtp">
      <hostname>plain.{domain}</hostname><port>25</port><socketType>plain</socketType>
    </outgoingServer>
    <outgoingServer type="smtp">
      <hostname>{host}</hostname><port>{port}</port><socketType>{socket}</socketType>
      <username>%EMAILLOCALPART%</username><authentication>password-cleartext</authentication>
    </outgoingServer>
  </emailProvider>
</clientConfig>
"""


def start_https(log_dir, address, host, outgoing, context):
    """An HTTPS server in a thread of its own, answering for host with one configuration file."""
    import http.server
    import threading
    smtp_host, port, socket_type = outgoing.split(":")
    domain = host[len("autoconfig."):] if host.startswith("autoconfig.") else host
    path = "/mail/config-v1.1.xml" if host.startswith("autoconfig.") else "/.well-known/autoconfig/mail/config-v1.1.xml"
    body = CLIENT_CONFIG.format(domain=domain, host=smtp_host, port=port, socket=socket_type).encode()
    log = open(os.path.join(log_dir, "https.log"), "a", buffering=1)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            log.write("%s %s\n" % (host, self.path))
            if self.path.split("?")[0] != path:
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer((address, 443), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()


class Silent(asyncio.Protocol):
    """Takes the connection and never answers."""

    def connection_made(self, transport):
        self.transport = transport


AIOSMTPD_MODES = {"accept", "refuse-rcpt", "tempfail-data", "greylist"}


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--world", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--dns", default="127.0.0.1")
    args = parser.parse_args()

    zone = Zone()
    zone.load(args.world)
    os.makedirs(args.log, exist_ok=True)
    loop = asyncio.get_running_loop()
    await loop.create_datagram_endpoint(lambda: DnsServer(zone, args.log), local_addr=(args.dns, 53))
    servers = []
    for address, mode in zone.smtp:
        store = Store(args.log, address)
        if mode in AIOSMTPD_MODES:
            handler = Handler(mode, store)
            factory = (lambda h: lambda: SMTP(h, hostname="mx.test", ident="vox-test", enable_SMTPUTF8=True))(handler)
        else:
            factory = (lambda m, s: lambda: RawSmtp(m, s))(mode, store)
        servers.append(await loop.create_server(factory, address, 25, reuse_address=True))
    authority = TestAuthority(args.log) if zone.relays or zone.https else None
    if authority:
        shutil.copy(authority.cert, os.path.join(args.log, "test-ca.pem"))
        shutil.copy(authority.cert, os.path.join(args.log, "relay-ca.pem"))
    for address, hosts, mode in zone.relays:
        context = authority.context(hosts)
        handler = Handler("accept", Store(args.log, address))
        auth = dict(authenticator=app_password_authenticator if mode == "apppass" else relay_authenticator,
                    auth_required=True)
        if mode == "noauth":
            auth = dict(auth_exclude_mechanism=["PLAIN", "LOGIN"])
        starttls = lambda h=handler, c=context, n=hosts[0], a=auth: SMTP(h, hostname=n, ident="vox-relay", tls_context=c,
                                                                        require_starttls=True, **a)
        implicit = lambda h=handler, n=hosts[0], a=auth: SMTP(h, hostname=n, ident="vox-relay", auth_require_tls=False, **a)
        servers.append(await loop.create_server(starttls, address, 587, reuse_address=True))
        servers.append(await loop.create_server(implicit, address, 465, reuse_address=True, ssl=context))
    for address, host, outgoing, trusted in zone.https:
        issuer = authority if trusted else TestAuthority(args.log, "untrusted-ca-" + address)
        start_https(args.log, address, host, outgoing, issuer.context([host]))
    for address, ports in zone.hangs:
        for port in ports:
            servers.append(await loop.create_server(Silent, address, port, reuse_address=True))
    masters = []
    for address, domain in zone.postfix:
        masters.append(start_postfix(args.log, address, domain))
        if not await wait_listening(address, 25):
            print("postfix did not come up", flush=True)

    # SIGTERM only sets an event: an exception raised by a plain signal handler lands in whatever coroutine
    # runs at that instant, and a server session that catches everything would swallow it and keep us up.
    stopping = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stopping.set)
    print("ready", flush=True)
    # A test killed outright cannot end us; leave with it rather than linger in its namespace.
    parent = os.getppid()
    while os.getppid() == parent and not stopping.is_set():
        try:
            await asyncio.wait_for(stopping.wait(), 0.5)
        except asyncio.TimeoutError:
            pass
    for m in masters:
        m.terminate()
        m.wait()
    # Open sessions are of no interest any more; leave without waiting for them to wind down.
    sys.stdout.flush()
    os._exit(0)


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
