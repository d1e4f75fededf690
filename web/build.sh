#!/usr/bin/env bash
# Builds the page in build-web/site: keldo-list.wasm, the page's own files, its manifest and icons
# (the PNGs made from icon.svg and icon-maskable.svg with `rsvg-convert -w N -h N`, kept beside
# them), its module with the zip writer fflate inside and its worker with the WASI shim inside
# (bundled by esbuild; the three come from npm, as web/package-lock.json pins them, without the
# browser test's drivers), with their licences. The folder is static files
# only; serve it with any static server, for example:
#   web/build.sh && python3 -m http.server -d build-web/site -b 127.0.0.1 8000
# Then the same page in one file, build-web/keldo.html, that opens from the disk.
set -euo pipefail
cd "$(dirname "$0")/.."

# The same build folder as the WebAssembly tests, so that the page gets the module they tested.
echo "== keldo-list.wasm (build-wasm)"
[ -f build-wasm/CMakeCache.txt ] || cmake -S . -B build-wasm --toolchain scripts/wasm32-wasi.cmake >/dev/null
cmake --build build-wasm -j2 --target keldo-list
shim=web/node_modules/@bjorn3/browser_wasi_shim
if [ ! -d "$shim" ] || [ ! -d web/node_modules/fflate ] || [ ! -d web/node_modules/esbuild ]; then
    echo "== the WASI shim, fflate and esbuild, from npm (not the browser test's drivers)"
    npm ci --prefix web --omit=dev --no-audit --no-fund
fi

site=build-web/site
echo "== the page ($site)"
rm -rf "$site" && mkdir -p "$site/licences"
cp web/index.html web/style.css web/icon.svg web/icon-*.png web/manifest.webmanifest web/offline.js build-wasm/keldo-list.wasm "$site"/
# The page's module, its worker and its audio worklet each one script, made from its imports.
web/node_modules/.bin/esbuild web/main.js --bundle --format=esm --log-level=warning --outfile="$site/main.js"
for script in worker voice-worklet; do
    web/node_modules/.bin/esbuild "web/$script.js" --bundle --format=iife --log-level=warning --outfile="$site/$script.js"
done
cp web/node_modules/fflate/LICENSE "$site/licences/fflate-LICENSE"
for licence in "$shim"/LICENSE-*; do
    cp "$licence" "$site/licences/browser_wasi_shim-${licence##*/}"
done
# The files the service worker keeps for use offline.
(cd "$site" && find . -type f ! -name files.json | sed 's|^\./||' | sort |
    node -e 'process.stdout.write(JSON.stringify(require("fs").readFileSync(0, "utf8").trim().split("\n")))' > files.json)

echo "== the page in one file (build-web/keldo.html)"
node web/one-file.mjs "$site" build-web/keldo.html
