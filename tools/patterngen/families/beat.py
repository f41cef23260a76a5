"""Family `beat`: not built yet; it contributes no members."""


def build(pack: str):
    return []
