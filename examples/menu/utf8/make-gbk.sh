#!/usr/bin/env bash
# Rewrites the GBK tables of the example menu (one directory up) from these UTF-8 sources.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for f in "$here"/*.txt; do
  iconv -f UTF-8 -t GBK "$f" > "$here/../$(basename "$f")"
done
