"""The address an Arm logs in to, never cut.

velmo keeps at most 29 bytes of an address (the library's buffer holds 30
with its NUL) and silently drops the rest, which can name another machine.
A longer name is resolved here to a numeric address that fits.
"""

import socket

LIMIT = 29  # bytes of address text the library keeps


def login_address(address: str) -> str:
    """`address` itself when it fits, else a numeric address of it that fits
    (IPv4 first); ValueError when there is none."""
    if not address:
        raise ValueError("an empty address names no controller")
    if len(address.encode()) <= LIMIT:
        return address
    try:
        found = socket.getaddrinfo(address, None, type=socket.SOCK_STREAM)
    except (OSError, UnicodeError) as e:
        raise ValueError(f"the address {address!r} is longer than {LIMIT} bytes "
                         f"and could not be resolved ({e})") from e
    numeric = [str(sockaddr[0]) for family, _, _, _, sockaddr in found
               if family in (socket.AF_INET, socket.AF_INET6)]
    fitting = sorted((a for a in numeric if len(a.encode()) <= LIMIT), key=lambda a: ":" in a)  # IPv4 first
    if not fitting:
        raise ValueError(f"the address {address!r} is longer than {LIMIT} bytes "
                         "and resolves to no numeric address that fits")
    return fitting[0]
