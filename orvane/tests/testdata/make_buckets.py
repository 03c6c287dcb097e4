#!/usr/bin/env python3
r"""Writes buckets.tsv: seed texts and their buckets, computed with hashlib as a reference
independent of the C++ code. Run once from this folder; the output is committed.

Each line is the seed and its bucket separated by a tab. Seeds never contain a tab or a
line break; a backslash is written as \\ and a NUL byte as \0, so the file stays text.
"""
import hashlib


def bucket(seed: str) -> int:
    digest = hashlib.sha1(seed.encode("utf-8")).digest()
    return int.from_bytes(digest, "big") % 1000


def seeds():
    # The worked example and its neighbours: one changed part each.
    yield "42.my_feature.3u1234"
    yield "42.my_feature.4u1234"
    yield "43.my_feature.3u1234"
    yield "42.my_feature2.3u1234"
    yield ""
    # Typical seeds: id.name.shuffle_version followed by an identifier of each kind.
    names = ["my_feature", "checkout_flow", "search_ranking_v2", "dark_mode"]
    for i in range(200):
        name = names[i % len(names)]
        yield f"{1000 + i * 37}.{name}.{i % 7}t2_user{i * 7919}"
    for i in range(40):
        yield f"7.build_gate.1{12345 + i * 1001}"
    for ident in ["true", "false", "null", "[1,2]", '{"a":1}', "1.5", "-3", "0"]:
        yield f"9.kinds.0{ident}"
    # Non-ASCII identifiers: hashed as their UTF-8 bytes.
    for ident in ["ü", "日本語", "😀", "Ωmega", "café", "\u00a0nbsp", "naïve_用户", "\u0000nul", "back\\slash"]:
        yield f"5.unicode.2{ident}"
    # Lengths around SHA-1's 64-byte block and its 55/56-byte padding boundary.
    for length in [1, 54, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129]:
        yield ("x" * length)
        yield ("1.f.0" + "ab" * length)[:length]
    # Long seeds spanning many blocks.
    for length in [1000, 4096, 10000]:
        yield "77.long_feature.9" + "u" * length
        yield "77.long_feature.9" + ("é" * length)


def main():
    seen = set()
    with open("buckets.tsv", "w", encoding="utf-8", newline="\n") as out:
        for seed in seeds():
            assert "\t" not in seed and "\n" not in seed and "\r" not in seed
            if seed in seen:
                continue
            seen.add(seed)
            escaped = seed.replace("\\", "\\\\").replace("\0", "\\0")
            out.write(f"{escaped}\t{bucket(seed)}\n")


if __name__ == "__main__":
    main()
