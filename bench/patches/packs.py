#!/usr/bin/env python3
"""Helpers of bench/patches/run.sh, apart from the code under test.

plan NEW_TREE OUT BASE_NAME=BASE_TREE ...
    The zstd command lines that make what `update-publish --compress --patch-from BASE_NAME ...`
    makes: `zstd -19 --long` of every file and `zstd -19 --long --patch-from` of every file that
    differs from the same path of a base (files below 2 GiB). Writes OUT/cli.sh (one command a
    line, outputs in OUT/out/) and OUT/map.tsv (kind, base name, path, output name).
sizes ROOT FOLDER OUT BASE_NAME ...
    One markdown row per base: the changed files, their full size, their compressed copies
    (the file where none was published), the published patches from that base, and the
    command line's patches of the same files, with the ratio and how many are identical.
largest ROOT FOLDER BASE_NAME ...
    The largest published patch: "PACKED BASE_FILE SIZE NEW_FILE" (the file it makes, and its size).
"""
import hashlib
import os
import sys

MAX_PATCH = (1 << 31) - 1


def files_below(tree):
    found = {}
    for folder, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found[os.path.relpath(path, tree).replace(os.sep, "/")] = path
    return found


def digest(path, known={}):  # `known`: the digests of this run, by path
    if path in known:
        return known[path]
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    known[path] = h.hexdigest()
    return known[path]


def plan(new_tree, out, bases):
    new = files_below(new_tree)
    os.makedirs(os.path.join(out, "out"), exist_ok=True)
    commands, rows = [], []
    for index, path in enumerate(sorted(new)):
        source = new[path]
        target = os.path.join(out, "out", "%d.zst" % index)
        commands.append("zstd -19 --long -q -f '%s' -o '%s'" % (source, target))
        rows.append(("zstd", "-", path, target))
        for name, tree in bases:
            base = os.path.join(tree, path)
            if not os.path.isfile(base) or os.path.islink(base):
                continue
            if max(os.path.getsize(base), os.path.getsize(source)) > MAX_PATCH:
                continue
            if digest(base) == digest(source):
                continue
            target = os.path.join(out, "out", "%d.%s.zst" % (index, name))
            commands.append("zstd -19 --long -q -f --patch-from '%s' '%s' -o '%s' 2>/dev/null"
                            % (base, source, target))
            rows.append(("patch", name, path, target))
    with open(os.path.join(out, "cli.sh"), "w") as f:
        f.write("set -e\n" + "\n".join(commands) + "\n")
    with open(os.path.join(out, "map.tsv"), "w") as f:
        f.writelines("\t".join(row) + "\n" for row in rows)


def md5_list(root, folder):
    listed = {}
    with open(os.path.join(root, folder, "md5.txt"), "rb") as f:
        for line in f.read().split(b"\r\n"):
            fields = line.split(b"\t")
            if len(fields) == 3:
                size = fields[1].decode()  # low 32 bits, then high 32 bits, in hex
                listed[fields[2].decode().replace("\\", "/")] = (
                    fields[0], int(size[:8], 16) + (int(size[8:], 16) << 32))
    return listed


def pack_list(root, folder):
    packs = []
    path = os.path.join(root, folder, ".~zstd", "list.txt")
    if not os.path.exists(path):
        return packs
    with open(path, "rb") as f:
        for line in f.read().split(b"\r\n"):
            fields = line.split(b"\t")
            if len(fields) == 6:
                packs.append({"kind": fields[0].decode(), "base": fields[1], "size": int(fields[2]),
                              "sha256": fields[4].decode(),
                              "path": fields[5].decode().replace("\\", "/")})
    return packs


def sizes(root, folder, out, base_names):
    new = md5_list(root, folder)
    packs = pack_list(root, folder)
    cli = {}
    with open(os.path.join(out, "map.tsv")) as f:
        for line in f:
            kind, base, path, target = line.rstrip("\n").split("\t")
            cli[(kind, base, path)] = target
    for name in base_names:
        old = md5_list(root, name)
        changed = [p for p in new if p not in old or old[p][0] != new[p][0]]
        full = sum(new[p][1] for p in changed)
        copy = {p["path"]: p["size"] for p in packs if p["kind"] == "zstd"}
        copies = sum(copy.get(p, new[p][1]) for p in changed)
        ours = theirs = identical = count = fetched = 0
        for p in changed:
            patch = next((x for x in packs if x["kind"] == "patch" and x["path"] == p
                          and p in old and x["base"] == old[p][0]), None)
            fetched += patch["size"] if patch else copy.get(p, new[p][1])
            target = cli.get(("patch", name, p))
            if not patch or not target:
                continue
            count += 1
            ours += patch["size"]
            theirs += os.path.getsize(target)
            identical += digest(target) == patch["sha256"]
        ratio = "%.4f" % (ours / theirs) if theirs else "-"
        print("| %s -> %s | %d | %d | %d (%.3f) | %d (%.3f) | %d, %d files | %d | %s | %d of %d |" % (
            name, folder, len(changed), full, copies, copies / max(full, 1), fetched,
            fetched / max(full, 1), ours, count, theirs, ratio, identical, count))
    return 0


def largest(root, folder, base_names):
    best = None
    for pack in pack_list(root, folder):
        if pack["kind"] == "patch" and (best is None or pack["size"] > best["size"]):
            best = pack
    if best is None:
        return 1
    new = md5_list(root, folder)
    for name in base_names:
        old = md5_list(root, name)
        if best["path"] in old and old[best["path"]][0] == best["base"]:
            print(os.path.join(root, folder, ".~zstd", best["sha256"] + ".zst"),
                  os.path.join(root, name, best["path"]), new[best["path"]][1],
                  os.path.join(root, folder, best["path"]))
            return 0
    return 1


def main(argv):
    if argv[1] == "plan":
        return plan(argv[2], argv[3], [a.split("=", 1) for a in argv[4:]])
    if argv[1] == "sizes":
        return sizes(argv[2], argv[3], argv[4], argv[5:])
    if argv[1] == "largest":
        return largest(argv[2], argv[3], argv[4:])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv) or 0)
