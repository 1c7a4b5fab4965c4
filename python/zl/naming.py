"""Naming Service addresses as the tools take them, and where a client's
option string says the Naming Service is.

An address is given as a port (on 127.0.0.1), HOST:PORT, or a full
corbaloc:, corbaname: or IOR: address: the zl command's --ns and the pytest
plugin's --zl-naming read it here, and each names its own option in the
error.
"""
import re
from typing import Optional, Tuple

LOOPBACK = "127.0.0.1"

# A corbaloc address of an ORB reached by TCP: its host and port.
_CORBALOC_ENDPOINT = re.compile(r"corbaloc:(?:iiop)?:(?:[\d.]+@)?([\w.\-]+):(\d+)/")


def naming_address(text: str) -> str:
    """The Naming Service's address for `text`; ValueError, saying what to
    give, when it is none."""
    if re.fullmatch(r"\d{1,5}", text):
        return "corbaloc::%s:%s/NameService" % (LOOPBACK, text)
    if re.fullmatch(r"[\w.\-]+:\d{1,5}", text):
        return "corbaloc::%s/NameService" % text
    if re.match(r"(corbaloc|corbaname|IOR):", text, re.IGNORECASE):
        return text
    raise ValueError("not a naming service address: %r "
                     "(give PORT, HOST:PORT or corbaloc::HOST:PORT/NameService)" % text)


def naming_option(text: str) -> str:
    """The client option that names the Naming Service at `text`
    (naming_address; ValueError likewise)."""
    return "-ORBInitRef NameService=" + naming_address(text)


def naming_endpoint(options: str) -> Optional[Tuple[str, int]]:
    """The host and port of the Naming Service that a client's option
    string names by a corbaloc address; None when it names none that way."""
    match = _CORBALOC_ENDPOINT.search(options)
    return (match.group(1), int(match.group(2))) if match else None
