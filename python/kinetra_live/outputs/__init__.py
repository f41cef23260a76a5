"""Output kinds. Each kind is one module that owns its show-file section, how a
fixture is patched to it, the mapping from offsets to what goes on the wire, and
its sender (the socket is handed in, so tests pass a fake one):

    SECTION_KEYS, read_output(reader, table, key, show_name) -> settings with .name and .kind
    FIXTURE_KEYS, read_patch(reader, table, key, settings) -> the fixture's patch
    claims(fixture) -> [(spot, owner value, key, message(other fixture))]: what the
        fixture occupies; two fixtures claiming one spot with different values clash
    describe(settings, show) -> one line for --check
    open_socket(settings) -> socket
    Sender(settings, show, sock): set(fixture, x, y, z, blackout=False) -> values,
        flush(now) -> [packet records], close(now) -> [packet records]; errors, last_error;
        optionally adopt(old sender, now) -> [packet records]: go on from the same output's
        sender of the show before an edit (same settings, same socket)

Adding a kind is a module here and a line below.
"""

from . import artnet, osc, sacn

KINDS = {
    "sacn": sacn,
    "osc": osc,
    "artnet": artnet,
}
