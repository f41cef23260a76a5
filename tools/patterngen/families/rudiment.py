"""Family `rudiment`: not built yet; it contributes no members."""


def build():
    return []
