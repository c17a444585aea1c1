#!/usr/bin/env python3
"""Peer of address_rebuild_bench: reads the same reverse-geocoding replies (one per line) with the
json module and merges each result into a tree of place names, widest name first, as the
rebuild does. Prints the number of replies and tree nodes."""
import json
import sys


def merge(root, path, position):
    node = root
    for name in path:
        child = node["children"].get(name)
        if child is None:
            child = {"pos": position, "children": {}}
            node["children"][name] = child
        node = child
    node["pos"] = position


def main():
    root = {"pos": (0, 0, 0), "children": {}}
    replies = 0
    with open(sys.argv[1], "rb") as f:
        for line in f:
            reply = json.loads(line)
            replies += 1
            result = reply.get("result")
            if not isinstance(result, dict):
                continue
            loc = result.get("location", {})
            comp = result.get("addressComponent", {})
            names = [comp.get(k, "") for k in ("province", "city", "district", "street", "street_number")]
            merge(root, [n for n in names if n], (loc.get("lng", 0), loc.get("lat", 0), 12))
            for place in reply.get("results", []):
                ploc = place.get("location", {})
                path = [comp.get(k, "") for k in ("province", "city", "district")] + [place.get("name", "")]
                merge(root, [n for n in path if n], (ploc.get("lng", 0), ploc.get("lat", 0), 12))

    def count(node):
        return 1 + sum(count(c) for c in node["children"].values())

    print(replies, count(root) - 1)


if __name__ == "__main__":
    main()
