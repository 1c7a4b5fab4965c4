"""Who may use a `zl serve` page: whoever holds the access token it printed.

A page on 127.0.0.1 is reachable by every user of the machine and, through
their browsers, by every web site they visit; so on any address, loopback
or `--host`, the same three checks guard every request (every route, the
websocket, the page's assets, the 404s):

1. Host: the request's Host header names this server by one of the names
   it listens under (127.0.0.1, localhost, [::1], the `--host` address,
   with the port; for a wildcard `--host` such as 0.0.0.0 also the
   machine's own names and any address literal). Anything else is 421: a
   page of another site whose name was made to resolve to this machine
   (DNS rebinding) is not this server's page.
2. Origin: a request a browser sends for a page (an Origin header) comes
   from this server's own page, else 403.
3. The token: the random access token (192 bits) of the printed URL, in the
   query (`?token=...`) or in the cookie that such a request sets
   (HttpOnly, SameSite=Strict, named after the port so that two servers on
   one machine keep their own), else 403. Tokens are compared in constant
   time. A new `zl serve` has a new token.

Every response also forbids being framed by another page and content-type
sniffing (SECURITY_HEADERS).
"""
import hmac
import ipaddress
import secrets
import socket
from typing import FrozenSet, Optional, Sequence, Tuple
from urllib.parse import urlsplit

LOOPBACK_NAMES = ("127.0.0.1", "localhost", "[::1]")
WILDCARDS = ("0.0.0.0", "::", "")

# The page's own policy: everything from this server, nothing framed.
PAGE_POLICY = ("default-src 'self'; connect-src 'self'; img-src 'self' data:; "
               "style-src 'self' 'unsafe-inline'; frame-ancestors 'none'")
SECURITY_HEADERS = {
    "X-Frame-Options": "DENY",
    "X-Content-Type-Options": "nosniff",
    "Cache-Control": "no-store",
}


def new_token() -> str:
    """A random access token (192 bits, URL-safe)."""
    return secrets.token_urlsafe(24)


def cookie_name(port: int) -> str:
    """The cookie that carries the token of the server on `port` (cookies
    are shared by every port of a host: one name per port)."""
    return "zl_serve_token_%d" % port


def url_host(address: str) -> str:
    """An address as a URL writes it: IPv6 literals in brackets."""
    return "[%s]" % address if ":" in address else address


class Access:
    """The checks of one server on `port` with `token`, listening on an
    address that `addresses` name (the `--host` text and the address the
    socket was bound to). Constant after construction."""

    def __init__(self, addresses: Sequence[str], port: int, token: str) -> None:
        self.token = token
        self.port = port
        self.cookie = cookie_name(port)
        self.wildcard = any(a in WILDCARDS for a in addresses)
        names = set(LOOPBACK_NAMES)
        names.update(url_host(a).lower() for a in addresses if a not in WILDCARDS)
        if self.wildcard:
            names.update(n.lower() for n in (socket.gethostname(), socket.getfqdn()) if n)
        self.names: FrozenSet[str] = frozenset(names)

    def host_ok(self, host: Optional[str]) -> bool:
        """Whether a Host header names this server (see the module's text)."""
        if not host:
            return False
        name, port = _split_host(host.lower())
        if port != self.port:
            return False
        if name in self.names:
            return True
        return self.wildcard and _is_address(name)

    def token_ok(self, query_token: Optional[str], cookie_token: Optional[str]) -> bool:
        """Whether the query's or the cookie's token is this server's."""
        for given in (query_token, cookie_token):
            if given and hmac.compare_digest(given.encode("utf-8", "replace"),
                                             self.token.encode("utf-8")):
                return True
        return False


def origin_ok(origin: Optional[str], host: str) -> bool:
    """Whether a request's Origin header (None when absent: not sent by a
    page of another site) names this server, whose Host header is `host`."""
    if origin is None:
        return True
    parts = urlsplit(origin)
    return parts.scheme in ("http", "https") and bool(host) and parts.netloc == host


def _split_host(host: str) -> Tuple[str, Optional[int]]:
    """"name:port" -> (name, port); port 80 when none is given; None for a
    port that is no number."""
    if host.endswith("]") or ":" not in host:
        return host, 80  # "localhost", "[::1]": no port given
    name, _, port = host.rpartition(":")
    return (name, int(port)) if port.isdigit() else (host, None)


def _is_address(name: str) -> bool:
    """Whether a Host name is an address literal ("10.0.0.5", "[fe80::1]"):
    no DNS name a site could make resolve here."""
    try:
        ipaddress.ip_address(name[1:-1] if name.startswith("[") else name)
    except ValueError:
        return False
    return True
