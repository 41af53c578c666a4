#!/usr/bin/env bash
# The core library must not see the UI toolkit: no Qt header under the core folders.
set -euo pipefail
cd "$(dirname "$0")/.."
if grep -rnE '#\s*include\s*[<"]Q[A-Za-z]*(/|>|")' config pipeline pagegen publish engine 2>/dev/null \
    | grep -v '^publish/.*Dlg'; then
  echo "Qt headers found in the core folders (above)." >&2
  exit 1
fi
