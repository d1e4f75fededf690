#!/usr/bin/env bash
# Builds the page in build-web/site: keldo.wasm, the page's own files, and the WASI shim that
# npm installs from web/package-lock.json, with its licence. The folder is static files only;
# serve it with any static server, for example:
#   web/build.sh && python3 -m http.server -d build-web/site -b 127.0.0.1 8000
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== keldo.wasm (build-web/wasm)"
cmake -S . -B build-web/wasm --toolchain scripts/wasm32-wasi.cmake -DBUILD_TESTING=OFF >/dev/null
cmake --build build-web/wasm -j2 --target keldo
shim=web/node_modules/@bjorn3/browser_wasi_shim
if [ ! -d "$shim" ]; then
    echo "== the WASI shim, from npm"
    npm ci --prefix web --no-audit --no-fund
fi

site=build-web/site
echo "== the page ($site)"
rm -rf "$site" && mkdir -p "$site/shim"
cp web/index.html web/style.css web/icon.svg web/main.js web/draw.js web/worker.js web/offline.js \
   build-web/wasm/keldo.wasm "$site"/
cp "$shim"/dist/*.js "$shim"/LICENSE-* "$site/shim/"
# The files the service worker keeps for use offline.
(cd "$site" && find . -type f ! -name files.json | sed 's|^\./||' | sort |
    node -e 'process.stdout.write(JSON.stringify(require("fs").readFileSync(0, "utf8").trim().split("\n")))' > files.json)
