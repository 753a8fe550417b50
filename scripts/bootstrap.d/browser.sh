#!/usr/bin/env bash
# The browser test's Node.js packages (playwright-core drives Debian's
# chromium; it downloads no browser of its own). npm comes with some nodejs
# builds and is a package of its own in Debian's: it is added only if missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
dir="$root/tests/browser"

if ! command -v npm >/dev/null 2>&1; then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends npm
fi

stamp="$dir/node_modules/.installed-from-lock"
if [[ ! -f "$stamp" || "$dir/package-lock.json" -nt "$stamp" || "$dir/package.json" -nt "$stamp" ]]; then
    echo "bootstrap: npm packages of the browser test"
    export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
    touch "$stamp"
fi
