"""Who may use a `zl serve` page.

Listening on loopback only (the default), anyone on this machine may use
the page, as they may run `zl set`. Opened to a network (`--host`), every
request needs the random access token the command prints in its URL: in
the query (`?token=...`, the printed URL) or in the cookie the first such
request sets, so that the page's own requests carry it. Tokens are compared
in constant time.

Whatever the host, a request that a browser sends on behalf of another site
(an Origin header that is not this server's own address) is refused, so a
page elsewhere cannot drive the plant through a user's browser.
"""
import hmac
import secrets
from typing import Optional
from urllib.parse import urlsplit

COOKIE = "zl_serve_token"


def new_token() -> str:
    """A random access token (192 bits, URL-safe)."""
    return secrets.token_urlsafe(24)


def token_ok(expected: Optional[str], query_token: Optional[str],
             cookie_token: Optional[str]) -> bool:
    """Whether a request may pass: always when no token is required
    (`expected` is None); otherwise when the query's or the cookie's token
    equals it."""
    if expected is None:
        return True
    for given in (query_token, cookie_token):
        if given and hmac.compare_digest(given.encode("utf-8", "replace"),
                                         expected.encode("utf-8")):
            return True
    return False


def origin_ok(origin: Optional[str], host: str) -> bool:
    """Whether a request's Origin header (None when absent: not sent by a
    page of another site) names this server, whose Host header is `host`."""
    if origin is None:
        return True
    parts = urlsplit(origin)
    return parts.scheme in ("http", "https") and bool(host) and parts.netloc == host
