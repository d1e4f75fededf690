// Makes keldo.html, the page in one file, from the built site: the styles, the icon and the
// page's module inline; the worker's and the audio worklet's scripts and keldo-list.wasm in
// base64 data blocks, which the module reads instead of fetching them. It opens from the disk as well as from any host, needs
// no service worker, and its Content-Security-Policy admits only what the file itself holds.
//   node web/one-file.mjs SITE_FOLDER OUTPUT_FILE
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

const esbuild = createRequire(import.meta.url)('esbuild');
const [site, output] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(site, name));
const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;

// The page's module with the modules it imports inside it.
const script = esbuild.buildSync({ entryPoints: [path.join(site, 'main.js')], bundle: true, format: 'esm', write: false })
    .outputFiles[0].text;
const style = read('style.css').toString();
const block = (name, type) => `<script type="application/octet-stream" id="${name}" data-type="${type}">${read(name).toString('base64')}</script>`;
// The audio worklet loads from a data: URL of its kept script (see ownWorklet).
const policy = `default-src 'none'; script-src ${hash(script)} blob: data: 'wasm-unsafe-eval'; worker-src blob:; style-src ${hash(style)}; ` +
               "img-src data:; base-uri 'none'; form-action 'none'";
const licence = (name) => read(`licences/${name}`).toString().replaceAll('--', '- -');

let page = read('index.html').toString();
const swap = (from, to) => {
    const before = page;
    page = page.replace(from, () => to);
    if (page === before)
        throw new Error(`index.html no longer holds ${from}`);
};
swap(/<!-- Everything comes from[^]*?form-action 'none'">/,
     `<!-- Everything is inside this file, and nothing can be sent anywhere. -->\n<meta http-equiv="Content-Security-Policy"\n      content="${policy}">`);
swap('<link rel="icon" href="icon.svg">', `<link rel="icon" href="data:image/svg+xml;base64,${read('icon.svg').toString('base64')}">`);
// A page opened from the disk is no app to install: no manifest.
swap(/\n<link rel="manifest"[^>]*>/, '');
swap('<link rel="stylesheet" href="style.css">', `<style>${style}</style>`);
swap('<script type="module" src="main.js"></script>',
     `<!-- The worker's script holds @bjorn3/browser_wasi_shim, under this licence:\n${licence('browser_wasi_shim-LICENSE-MIT')}-->\n` +
     '<!-- The worker\'s script holds fflate too, under the licence below. -->\n' +
     `<!-- The page's module holds fflate, under this licence:\n${licence('fflate-LICENSE')}-->\n` +
     `${block('worker.js', 'text/javascript')}\n${block('voice-worklet.js', 'text/javascript')}\n` +
     `${block('keldo-list.wasm', 'application/wasm')}\n<script type="module">${script}</script>`);
fs.writeFileSync(output, page);
