"""The committed manifest pins every baked table: a change to a family or to shared code that
moves any stored value, a period or a dimension shows up here as a changed line. After an
intended change, refresh it with `cd tools && python3 -m patterngen --manifest
patterngen/manifest.tsv` and review the diff."""

from patterngen import manifest


def test_tables_match_the_committed_manifest(all_entries):
    now = manifest.render([e.pattern for e in all_entries]).splitlines()
    committed = manifest.COMMITTED.read_text(encoding="utf-8").splitlines()
    changed = sorted(set(now) ^ set(committed))
    names = sorted({line.split("\t", 1)[0] for line in changed})
    assert now == committed, "tables differ from the manifest: %s" % ", ".join(names[:20])
