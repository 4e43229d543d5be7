#!/usr/bin/env python3
"""Reads Prometheus text from a URL (or standard input with "-") through
prometheus_client's own parser and prints what it understood, one line a
family ("# name type") and one a sample ("name{label=value,...} value"),
labels sorted. A text the parser refuses ends it with status 1."""
import sys
import urllib.request

from prometheus_client.parser import text_string_to_metric_families


def main():
    if sys.argv[1] == "-":
        text = sys.stdin.read()
    else:
        with urllib.request.urlopen(sys.argv[1], timeout=30) as answer:
            print("# content-type " + answer.headers["Content-Type"])
            text = answer.read().decode("utf-8")
    try:
        for family in text_string_to_metric_families(text):
            print("# %s %s" % (family.name, family.type))
            for s in family.samples:
                labels = ",".join("%s=%s" % (k, v) for k, v in sorted(s.labels.items()))
                print("%s{%s} %r" % (s.name, labels, s.value))
    except ValueError as e:
        print("not understood: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
