"""Family `euclid`: not built yet; it contributes no members."""


def build():
    return []
