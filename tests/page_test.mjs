// The page in Chromium, Firefox ESR and WebKitGTK, served and (for the table's rows) as the one
// file keldo.html opened from the disk, with files chosen through #file as a user chooses them:
// the text must be the native tool's output, each picture must have one entry per value and its
// loop mark where the text puts "|", a saved note must sound as the page says, a saved wave must
// be the cycle a sampler loops, and no request may leave the page's origin. Also: every
// instrument of a file, a file that changes while it is read, copy and save, the zip of waves, a
// worker that fails, notes held on the keys (in Chromium, the page's own audio graph rendered
// offline and measured), axe-core's findings, and progress, cancel and a new run after a reload
// with the server gone. Chromium and Firefox are driven by puppeteer-core (CDP, WebDriver BiDi),
// WebKitGTK by selenium-webdriver through WebKitWebDriver, whose MiniBrowser needs a display:
//   xvfb-run -a node tests/page_test.mjs SITE_FOLDER ONE_FILE NATIVE_KELDO [ENGINE...]
// (web/build.sh makes build-web/site and build-web/keldo.html; the engines are chromium, firefox
// and webkit, all three unless named.)
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';

const require = createRequire(new URL('../web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');
const { Builder, By, Key } = require('selenium-webdriver');
const { zipSync } = require('fflate');
const axe = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const [site, oneFile, keldo] = process.argv.slice(2, 5).map((arg) => path.resolve(arg));
const keldoList = path.join(path.dirname(keldo), 'keldo-list');
const engines = process.argv.length > 5 ? process.argv.slice(5) : ['chromium', 'firefox', 'webkit'];
const oneFileUrl = pathToFileURL(oneFile).href;
const sample = new URL('../samples/demo.bin', import.meta.url).pathname;
// How long a run may take before the row fails as one that never ends. The slowest run, listing
// a 5 GiB file, took up to 57 s on a 2-core machine kept busy by a parallel build: four times
// that, so that only a read that stalls fails, never a slow machine.
const RUN_LIMIT_MS = 240_000;
const SQUARE = [...Array(16).fill(15), ...Array(16).fill(0)];  // a 50% square wave table
const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
                '.wasm': 'application/wasm', '.svg': 'image/svg+xml', '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

// The page's worker made to fail, under a folder of the site's own: its script missing, throwing
// as it starts, throwing while the module runs (at its first entry), or dying when asked for the
// second file of a run. And one that reads as
// the page's does, but asks the server to change the file's time once its first slice is read
// and waits for the answer, so that the file always changes at that point and no other.
const WORKERS = {
    'missing-worker': null,
    'dead-worker': "throw new Error('no worker here');\n",
    'throwing-worker': "self.postMessage = ((post) => (message, transfer) => {\n" +
                       "    if (message.type === 'entries') throw new Error('the worker broke');\n" +
                       "    return post(message, transfer);\n})(self.postMessage.bind(self));\n",
    'dying-worker': "Object.defineProperty(self, 'onmessage', { set: (handler) => self.addEventListener('message', (event) => {\n" +
                    "    if (event.data.index === 1) throw new Error('the worker died');\n" +
                    "    handler(event);\n}) });\n",
    'touching-worker': "FileReaderSync.prototype.readAsArrayBuffer = ((read) => function (blob) {\n" +
                       "    const bytes = read.call(this, blob);\n" +
                       "    if (!self.touched) {\n" +
                       "        self.touched = true;\n" +
                       "        const request = new XMLHttpRequest();\n" +
                       "        request.open('POST', `${location.origin}/touch`, false);\n" +
                       "        request.send();\n" +
                       "    }\n" +
                       "    return bytes;\n})(FileReaderSync.prototype.readAsArrayBuffer);\n",
};

// The site, never cached by the browser: after the server is gone, only the page's own service
// worker can answer.
function serveSite() {
    return http.createServer((request, response) => {
        if (request.method === 'POST' && request.url === '/touch') {
            const { mtime } = fs.statSync(touching);
            fs.utimesSync(touching, mtime, new Date(mtime.getTime() - 60_000));
            return response.end();
        }
        const [, folder, rest] = decodeURIComponent(new URL(request.url, 'http://x').pathname).match(/^\/(?:([\w-]+-worker)\/)?(.*)$/);
        const file = path.join(site, rest.replace(/^$|\/$/, '$&index.html'));
        const changed = folder in WORKERS && rest === 'worker.js';
        fs.readFile(file, (error, body) => {
            const missing = error || (changed && WORKERS[folder] === null) || (failing && !/\.html$/.test(file));
            response.writeHead(missing ? 404 : 200, { 'Content-Type': TYPES[path.extname(file)] ?? 'text/plain', 'Cache-Control': 'no-store' });
            response.end(missing ? '' : changed ? WORKERS[folder] + body : body);
        });
    });
}

const listen = (server) => new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server.address().port)));

const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-page-'));
const files = {};
let server, origin;
let touching;  // the file whose time the server changes when the page's worker asks
let failing = false;  // whether the server answers 404 for every file but the page itself
let page;  // the engine's page, through the interface below
let outsideRequests;  // requests that left the page's files, or null where the engine cannot tell
let consoleErrors;  // what the engine's console reported as errors, or null where it cannot tell

function makeFile(name, bytes) {
    files[name] = path.join(temp, name);
    fs.writeFileSync(files[name], bytes);
}

// A file of `size` bytes, zero but for `patches` ([offset, bytes], written in order), sparse where
// it is zero.
function writeSparse(file, size, patches) {
    const fd = fs.openSync(file, 'w');
    for (const [offset, bytes] of patches)
        fs.writeSync(fd, Buffer.from(bytes, 'latin1'), 0, bytes.length, offset);
    fs.ftruncateSync(fd, size);
    fs.closeSync(fd);
}

const sparse = {};
function makeSparseFile(name, size, patches) {
    files[name] = path.join(temp, name);
    sparse[name] = { size, patches };
    writeSparse(files[name], size, patches);
}

// The tag and a block of zeros but for `patches` ([block offset, byte values]), its envelopes'
// loop indexes -1 unless patched, so that it is doubtful only where its patches make it so.
function instrument(patches) {
    const block = Buffer.alloc(512);
    block[69] = block[107] = 0xff;
    for (const [offset, values] of patches)
        block.set(values, offset);
    return Buffer.concat([Buffer.from('SNDF'), block]);
}

before(() => {
    files.sample = sample;
    makeFile('empty.bin', Buffer.alloc(0));
    makeFile('no-tag.bin', Buffer.concat([Buffer.alloc(5000, 'x'), Buffer.from('SND')]));
    // The block stops inside the volume envelope's loop index: what is missing reads as zeros.
    const block = Buffer.alloc(70);
    block.set([0x80, 0xff, 0x00, 0x7f], 0);
    block.set([0x0f, 0x0e, 0x0d, 0x0c, 0x0b], 36);
    block[68] = 5;
    makeFile('cut-short.bin', Buffer.concat([Buffer.alloc(10, 'x'), Buffer.from('SNDF'), block]));
    // Instruments to hear: a 4-bit triangle whose volume loops after entry 2 (over an entry of 0),
    // a 5-bit saw whose loop mark follows its last entry, and a wave table of one value.
    const triangle = [...Array(16).keys(), ...[...Array(16).keys()].reverse()];
    makeFile('wave4-loop.bin', instrument([[0, triangle], [36, [15, 12, 9, 0, 6, 3]], [68, [6, 2]], [74, [1, 0x81]], [106, [2, 0]]]));
    makeFile('wave5-hold.bin', instrument([[0, [...Array(32).keys()]], [36, [31, 0, 16, 20]], [68, [4, 3]]]));
    makeFile('flat.bin', instrument([[0, Array(32).fill(9)], [36, [15]], [68, [1, 0xff]]]));
    // To hold: the triangle, its volume looping after entry 2 over entries that all sound; and a
    // 50% square (16 high entries, 16 low) at full volume.
    makeFile('held.bin', instrument([[0, triangle], [36, [15, 10, 5, 12, 8]], [68, [5, 2]]]));
    makeFile('square.bin', instrument([[0, SQUARE]]));
    // A square whose pitch envelope is 1 | -1 0: up, down, and down again while held.
    makeFile('slide.bin', instrument([[0, SQUARE], [74, [1, 0x81, 0]], [106, [3, 0]]]));
    // Five instruments, the third and the fifth the same as the first and the second.
    const [a, b, c] = [instrument([[0, triangle]]), instrument([[0, SQUARE], [36, [15, 7]], [68, [2, 0]]]), instrument([[74, [0x81]], [106, [1]]])];
    makeFile('repeats.bin', Buffer.concat([a, b, Buffer.alloc(100), a, c, b]));
    // A folder with subfolders: three files with instruments, the deepest first by name but last
    // by path; an empty file, one without a tag, and gone.bin, removed once chosen (each row makes
    // it again).
    for (const [name, bytes] of [['b.bin', Buffer.concat([a, Buffer.alloc(7), b])], ['empty.bin', ''], ['no-tag.bin', 'no tag here'],
                                 ['sub/c.bin', c], ['sub/deeper/a.bin', Buffer.concat([b, a, c])]]) {
        fs.mkdirSync(path.dirname(path.join(temp, 'coll', name)), { recursive: true });
        fs.writeFileSync(path.join(temp, 'coll', name), bytes);
    }
    files.gone = path.join(temp, 'coll', 'gone.bin');
    // Each picture's extremes: the wave at 0 and 255, a volume of 255, pitches of -127 and 127.
    makeFile('extremes.bin', instrument([[0, [0, 255, 128, 255, 0]], [36, [255, 0, 128]], [68, [3, 1]], [74, [0xff, 0x7f, 0x80, 0xff]], [106, [4, 3]]]));
    // A tag across the edge between the worker's first two 32 MiB slices: the dump reads back
    // into the first.
    makeSparseFile('slice-edge.bin', 32 * 2 ** 20 + 1000, [[32 * 2 ** 20 - 2, 'SNDF\x0a\x0b\x0c']]);
    // Tags at 10, across the first 4096-byte edge, inside the block of that one, further on, and
    // past 4 GiB across an edge; each block with bytes of its own, the fourth with envelopes.
    makeSparseFile('several.bin', 5 * 2 ** 30, [
        [10, 'SNDF\x01\x02'], [4093, 'SNDF\x21\x22'], [4200, 'SNDF\x31\x32'],
        [70000, 'SNDF\x0f\x0e'], [70004 + 36, '\x0f\x0c\x09\x06'], [70004 + 68, '\x04\x01'],
        [70004 + 74, '\x01\x81\x7f'], [70004 + 106, '\x03\x00'],
        [2 ** 32 + 4093, 'SNDF\x11\x22\x33'],
    ]);
    // Tags in the first 32 MiB slice, in the second and at the end; and one in the second alone.
    makeSparseFile('changing.bin', 64 * 2 ** 20 + 4096, [[10, 'SNDF'], [4093, 'SNDF'], [40 * 2 ** 20, 'SNDF'], [64 * 2 ** 20 + 4092, 'SNDF']]);
    makeSparseFile('changing-late.bin', 64 * 2 ** 20, [[40 * 2 ** 20, 'SNDF']]);
    makeFile('zero-block.bin', instrument([[69, [0]], [107, [0]]]));
    // A million tags, each followed by zeros up to the next, 112 bytes on.
    makeFile('million.bin', Buffer.concat([Buffer.from('SNDF'), Buffer.alloc(108)]).toString('latin1').repeat(10 ** 6));
    // A zip: a folder, a deflated and a stored member, a zip inside it; a file compressed whole,
    // which the page does not unpack; and a text that names the tag on every line.
    const inner = zipSync({ 'X.BIN': [instrument([[0, triangle], [36, [3]], [68, [1]]]), { level: 6 }] });
    makeFile('game.zip', zipSync({ 'SOUND/': new Uint8Array(0), 'SOUND/BGM.BIN': [Buffer.concat([a, b]), { level: 6 }],
                                   'SFX.BIN': [c, { level: 0 }], 'inner.zip': [inner, { level: 0 }] }));
    makeFile('bank.bin.gz', gzipSync(Buffer.concat([a, b])));
    makeFile('notes.txt', Array.from({ length: 20 }, (_, line) => `SNDF marks an instrument block; so says line ${line}.\n`).join(''));
});

after(() => fs.rmSync(temp, { recursive: true, force: true }));

// Run in the page after each load, so that every engine shows the same things: errors, the audio
// contexts made, and each file offered for download (by name, with its bytes) or to the clipboard,
// where no engine's own download folder or clipboard is needed.
function watchThePage() {
    window.pageErrors = [];
    addEventListener('error', (event) => pageErrors.push(String(event.message)));
    addEventListener('unhandledrejection', (event) => pageErrors.push(String(event.reason)));
    const contexts = (window.audioContexts = []);
    window.AudioContext = class extends window.AudioContext {
        constructor(...args) {
            super(...args);
            contexts.push(this);
        }
    };
    // The page's audio made offline, `seconds` long, for the test to render: what the page sends
    // to its output, sample by sample.
    window.useOfflineAudio = (seconds) => {
        window.AudioContext = class extends OfflineAudioContext {
            constructor() {
                super(1, Math.round(seconds * 44100), 44100);
                contexts.push(this);
            }

            resume() {  // the page's, before each note; the test resumes the rendering itself
                return Promise.resolve();
            }
        };
    };
    window.workersStarted = 0;
    window.Worker = class extends window.Worker {
        constructor(...args) {
            super(...args);
            workersStarted += 1;
        }
    };
    window.voices = [];
    if (window.AudioWorkletNode) {
        window.AudioWorkletNode = class extends window.AudioWorkletNode {
            constructor(...args) {
                super(...args);
                voices.push(this);
            }
        };
    }
    const blobs = new Map();
    const createObjectURL = URL.createObjectURL;
    URL.createObjectURL = (blob) => {
        const url = createObjectURL(blob);
        blobs.set(url, blob);
        return url;
    };
    // How far the read had got (the progress bar's value) when each entry was first drawn.
    window.listedAt = [];
    const progress = document.querySelector('#progress');
    new MutationObserver(() => document.querySelectorAll('#instruments [role="option"]').forEach((item) =>
        listedAt.some(({ px }) => px === item.dataset.px) || listedAt.push({ px: item.dataset.px, read: progress.value })))
        .observe(document.querySelector('#instruments'), { childList: true, subtree: true });
    window.downloads = [];
    HTMLAnchorElement.prototype.click = function () {
        downloads.push({ name: this.download, blob: blobs.get(this.href) });
    };
    if (navigator.clipboard) {
        const writeText = navigator.clipboard.writeText.bind(navigator.clipboard);
        navigator.clipboard.writeText = (text) => writeText(text).then(() => (window.copied = text));
    }
}

// The interface the rows use, over puppeteer's page.
function puppeteerPage(page) {
    return {
        goto: (url) => page.goto(url),
        evaluate: (fn, ...args) => page.evaluate(fn, ...args),
        script: (source) => page.evaluate(source),
        $eval: (selector, fn, ...args) => page.$eval(selector, fn, ...args),
        $$eval: (selector, fn, ...args) => page.$$eval(selector, fn, ...args),
        waitForFunction: (fn, ...args) => page.waitForFunction(fn, { timeout: RUN_LIMIT_MS, polling: 100 }, ...args),
        // Centred first: Firefox scrolls a button that the driver left at the edge of the view
        // when it takes the focus, between the press and the release, which then miss it.
        async click(selector) {
            await page.$eval(selector, (element) => element.scrollIntoView({ block: 'center' }));
            await page.click(selector);
        },
        viewport: (width, height) => page.setViewport({ width, height }),
        focus: (selector) => page.focus(selector),
        press: (key) => page.keyboard.press(key),
        keyDown: (code) => page.keyboard.down(code),
        keyUp: (code) => page.keyboard.up(code),
        controlDown: async (code) => (await page.keyboard.down('Control'), page.keyboard.down(code)),
        controlUp: async (code) => (await page.keyboard.up(code), page.keyboard.up('Control')),
        async pointerDown(selector) {
            const element = await page.$(selector);
            await element.scrollIntoView();
            const box = await element.boundingBox();
            await page.mouse.move(box.x + box.width / 2, box.y + box.height - 5);
            await page.mouse.down();
        },
        pointerUp: () => page.mouse.up(),
        upload: async (box, paths) => (await page.$(box)).uploadFile(...paths),
        // Drags `paths`, files or folders, from outside the page and drops them on it.
        async dropPaths(paths) {
            const session = await page.createCDPSession();
            const data = { items: [], files: paths, dragOperationsMask: 1 };
            for (const type of ['dragEnter', 'dragOver', 'drop'])
                await session.send('Input.dispatchDragEvent', { type, x: 20, y: 20, data });
            await session.detach();
        },
        beforeLoad: async (fn) => (await page.evaluateOnNewDocument(fn)).identifier,
        forgetBeforeLoad: (id) => page.removeScriptToEvaluateOnNewDocument(id),
        async cdp(method) {
            const session = await page.createCDPSession();
            try {
                return await session.send(method);
            } finally {
                await session.detach();
            }
        },
    };
}

// The same interface over a WebDriver session.
function webDriverPage(driver) {
    const run = (body, ...args) => driver.executeScript(body, ...args);
    const evaluate = (fn, ...args) => run(`return (${fn}).apply(null, arguments);`, ...args);
    const keys = { ArrowDown: Key.ARROW_DOWN, ArrowUp: Key.ARROW_UP, Home: Key.HOME, End: Key.END, Enter: Key.ENTER };
    return {
        goto: (url) => driver.get(url),
        evaluate,
        script: (source) => run(`return ${source};`),
        $eval: (selector, fn, ...args) =>
            run(`return (${fn}).apply(null, [document.querySelector(arguments[0]), ...[...arguments].slice(1)]);`, selector, ...args),
        $$eval: (selector, fn, ...args) =>
            run(`return (${fn}).apply(null, [[...document.querySelectorAll(arguments[0])], ...[...arguments].slice(1)]);`, selector, ...args),
        async waitForFunction(fn, ...args) {
            for (const until = Date.now() + RUN_LIMIT_MS; !(await evaluate(fn, ...args));) {
                if (Date.now() > until)
                    throw new Error(`waited ${RUN_LIMIT_MS} ms for ${fn}; the status line: ${JSON.stringify(await evaluate(() => document.querySelector('#status')?.textContent))}`);
                await new Promise((resolve) => setTimeout(resolve, 100));
            }
        },
        click: async (selector) => (await driver.findElement(By.css(selector))).click(),
        focus: (selector) => evaluate((s) => document.querySelector(s).focus(), selector),
        press: (key) => driver.actions().sendKeys(keys[key]).perform(),
        keyDown: (code) => driver.actions().keyDown(code.slice(-1).toLowerCase()).perform(),
        keyUp: (code) => driver.actions().keyUp(code.slice(-1).toLowerCase()).perform(),
        controlDown: (code) => driver.actions().keyDown(Key.CONTROL).keyDown(code.slice(-1).toLowerCase()).perform(),
        controlUp: (code) => driver.actions().keyUp(code.slice(-1).toLowerCase()).keyUp(Key.CONTROL).perform(),
        upload: async (box, paths) => (await driver.findElement(By.css(box))).sendKeys(paths.join('\n')),
    };
}

// A request is the page's own if it goes to its origin, to its file, or to a blob or data URL.
function record(url) {
    if (!url.startsWith(`${origin}/`) && !/^(blob|data):/.test(url) && url !== oneFileUrl)
        outsideRequests.push(url);
}

// Once the server fails on purpose, and then goes away in mid-visit, the engine reports its 404s
// and the requests it broke off whenever it gets to them, later than the visit maybe, as console
// messages (Chromium) or as page errors (Firefox): they are not the page's errors. The row checks
// that the kept copies answer instead.
const pageError = (text) => (failing && /\b404\b|ServiceWorker intercepted the request/.test(text)) || consoleErrors.push(text);

const PUPPETEER_ERRORS = (browserPage) => {
    browserPage.on('pageerror', (error) => pageError(error.message));
    browserPage.on('console', (message) => message.type() === 'error' && pageError(message.text()));
    browserPage.on('request', (request) => record(request.url()));
};

// Each engine: starts it, sets `page`, `outsideRequests` and `consoleErrors`, and returns how to
// stop it.
const ENGINES = {
    async chromium() {
        const browser = await puppeteer.launch({
            executablePath: '/usr/bin/chromium',
            headless: true,
            protocolTimeout: 2 * RUN_LIMIT_MS,  // a wait for a run is one call to the browser
            args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
                   '--disable-component-update', '--disable-sync'],
        });
        await browser.defaultBrowserContext().overridePermissions(origin, ['clipboard-read', 'clipboard-sanitized-write']);
        // The service worker's requests too, which only CDP shows.
        browser.on('targetcreated', async (target) => {
            if (target.type() !== 'service_worker')
                return;
            const session = await target.createCDPSession();
            session.on('Network.requestWillBeSent', ({ request }) => record(request.url));
            await session.send('Network.enable');
        });
        const browserPage = await browser.newPage();
        await browserPage.emulateFocusedPage(true);  // the clipboard is only for a page that has the focus
        PUPPETEER_ERRORS(browserPage);
        page = puppeteerPage(browserPage);
        return () => browser.close();
    },
    // The page's and its workers' requests, through WebDriver BiDi; its service worker's are not shown.
    async firefox() {
        const browser = await puppeteer.launch({ browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
                                                 protocolTimeout: 2 * RUN_LIMIT_MS });
        const browserPage = await browser.newPage();
        PUPPETEER_ERRORS(browserPage);
        page = puppeteerPage(browserPage);
        return () => browser.close();
    },
    // WebDriver shows neither requests nor the console: only what the page itself reports.
    async webkit() {
        const probe = http.createServer();
        const port = await listen(probe);
        probe.close();
        const driverProcess = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
        for (let tries = 0; !(await fetch(`http://127.0.0.1:${port}/status`).then((r) => r.ok, () => false)); ++tries) {
            assert.ok(tries < 100, 'WebKitWebDriver did not start');
            await new Promise((resolve) => setTimeout(resolve, 100));
        }
        const driver = await new Builder().usingServer(`http://127.0.0.1:${port}`)
            .withCapabilities({ browserName: 'MiniBrowser', 'webkitgtk:browserOptions': { binary: MINIBROWSER, args: ['--automation'] } })
            .build();
        outsideRequests = consoleErrors = null;
        page = webDriverPage(driver);
        return async () => {
            await driver.quit();
            driverProcess.kill();
        };
    },
};

// Loads `url` and watches it.
async function load(url) {
    await page.goto(url);
    await page.evaluate(watchThePage);
}

// What the command prints for `file`, decoded as the page decodes it.
function nativeOutput(file) {
    let bytes;
    try {
        bytes = execFileSync(keldo, [file]);
    } catch (failed) {
        bytes = failed.stdout;
    }
    return new TextDecoder('shift_jis').decode(bytes);
}

// What the command prints for the copy of sparse test file `name` in which the tags before entry
// k (the offsets `pxs` just after them) are overwritten with "xxxx": entry k's text.
function entryOutput(name, pxs, k) {
    const copy = path.join(temp, `copy-${name}`);
    const { size, patches } = sparse[name];
    writeSparse(copy, size, [...patches, ...pxs.slice(0, k).map((px) => [px - 4, 'xxxx'])]);
    try {
        return nativeOutput(copy);
    } finally {
        fs.rmSync(copy);
    }
}

// What keldo-list prints for `file`, named as the page names it (run in the file's folder): what
// Save all must save.
const listOutput = (file) => execFileSync(keldoList, [path.basename(file)], { cwd: path.dirname(file), maxBuffer: 2 ** 30 });

const OPTIONS = '#instruments [role="option"]';
const listed = () => page.$$eval(OPTIONS, (items) => items.map((item) => item.dataset.px));
const shown = () => page.$eval('#mml', (e) => e.textContent);
// Chooses `value` from the menu `id`, as a person's choice does.
const pick = (id, value) => page.$eval(id, (menu, chosen) => {
    menu.value = chosen;
    menu.dispatchEvent(new Event('change'));
}, value);

// The bytes of the file that pressing `button` offers, which must be named `name`; or, for a file
// too large to hand over whole, its SHA-256.
async function saved(button, name, digest = false) {
    await page.click(button);
    await page.waitForFunction(() => window.downloads.length > 0);
    const download = await page.evaluate(async (digesting) => {
        const { name, blob } = window.downloads.shift();
        if (digesting)
            return { name, hex: [...new Uint8Array(await crypto.subtle.digest('SHA-256', await blob.arrayBuffer()))].map((b) => b.toString(16).padStart(2, '0')).join('') };
        const url = await new Promise((resolve) => {
            const reader = new FileReader();
            reader.onload = () => resolve(reader.result);
            reader.readAsDataURL(blob);
        });
        return { name, base64: url.slice(url.indexOf(',') + 1) };
    }, digest);
    assert.equal(download.name, name);
    return digest ? download.hex : Buffer.from(download.base64, 'base64');
}

// Chooses `paths` in the file box, or in the folder box (`box` '#folder').
async function choose(paths, box = '#file') {
    await page.$eval('#status', (status) => (status.textContent = ''));
    await page.upload(box, [paths].flat());  // the same file again only if the page emptied the box
}

// Drops files made in the page with the bytes of `paths`, as files dragged from elsewhere are.
async function drop(paths) {
    await page.$eval('#status', (status) => (status.textContent = ''));
    await page.evaluate((dropping) => {
        const dropped = new DataTransfer();
        for (const [name, bytes] of dropping)
            dropped.items.add(new File([new Uint8Array(bytes)], name));
        document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    }, [paths].flat().map((file) => [path.basename(file), [...fs.readFileSync(file)]]));
}

// Waits for the run to end, and checks what a person sees then: no progress bar and no Cancel;
// Copy, Save and the player only for an instrument shown.
async function finished() {
    await page.waitForFunction(() => /./.test(document.querySelector('#status').textContent) &&
                                     !/^Reading/.test(document.querySelector('#status').textContent));
    const seen = await page.evaluate(() => ({
        status: document.querySelector('#status').textContent,
        text: document.querySelector('#mml').textContent,
        hidden: ['#progress', '#cancel'].filter((id) => document.querySelector(id).hidden),
        enabled: ['#copy', '#save', '#play', '#save-wav'].filter((id) => !document.querySelector(id).disabled),
    }));
    assert.deepEqual(seen.hidden, ['#progress', '#cancel'], `after the run (${seen.status})`);
    const shown = /^@WT0 = \{$/m.test(seen.text);
    assert.deepEqual(seen.enabled, shown ? ['#copy', '#save', '#play', '#save-wav'] : [], `after the run (${seen.status})`);
    return seen;
}

// The entries of each definition in the text, and the index of the entry that "|" follows.
function definitions(text) {
    const found = {};
    for (const [, name, body] of text.matchAll(/^@(WT0|v0|EP0) = \{\n([^}]*)\}$/gm)) {
        const tokens = body.split(/\s+/).filter(Boolean);
        const values = tokens.filter((t) => t !== '|').map((t) => (t.startsWith('$') ? parseInt(t.slice(1), 16) : Number(t)));
        found[name] = { values, loop: tokens.indexOf('|') - 1 };
    }
    return found;
}

// Each picture's entries and loop mark, as drawn: how far each entry reaches up (the wave's
// samples from the top of the picture, the bars from the zero line) and where it stands.
function drawn(id) {
    return page.$eval(`#${id}`, (svg) => {
        // From the attributes drawn, since an engine may give an entry of no height no box at all.
        const at = (element, name) => element[name].baseVal.value;
        const axis = svg.querySelector('.axis') && at(svg.querySelector('.axis'), 'y1');
        const entries = [...svg.querySelectorAll('.entry')].map((entry) => {
            if (entry.tagName === 'line')
                return { x: at(entry, 'x1'), width: at(entry, 'x2') - at(entry, 'x1'), reach: -at(entry, 'y1') };
            const [y, height] = [at(entry, 'y'), at(entry, 'height')];
            return { x: at(entry, 'x'), width: at(entry, 'width'), reach: y < axis ? height : -height };
        });
        // Where each entry and loop mark lies: its left, top, right and bottom.
        const boxes = [...svg.querySelectorAll('.entry, .loop')].map((element) => (element.tagName === 'line'
            ? [Math.min(at(element, 'x1'), at(element, 'x2')), Math.min(at(element, 'y1'), at(element, 'y2')),
               Math.max(at(element, 'x1'), at(element, 'x2')), Math.max(at(element, 'y1'), at(element, 'y2'))]
            : [at(element, 'x'), at(element, 'y'), at(element, 'x') + at(element, 'width'), at(element, 'y') + at(element, 'height')]));
        const { width, height } = svg.viewBox.baseVal;
        return { entries, loops: [...svg.querySelectorAll('.loop')].map((mark) => at(mark, 'x1')), boxes, width, height, axis };
    });
}

// The pictures say what the text says: one entry per value, each reaching as far as its value
// says on one scale (bars from zero), and the loop mark between the entry that "|" follows and
// the next.
async function expectPicturesOf(text) {
    const defs = definitions(text);
    for (const [id, name] of [['wave', 'WT0'], ['volume', 'v0'], ['pitch', 'EP0']]) {
        const { entries, loops, boxes, width, height, axis } = await drawn(id);
        for (const [left, top, right, bottom] of boxes)
            assert.ok(left >= 0 && top >= 0 && right <= width && bottom <= height, `${id}: [${left}, ${top}, ${right}, ${bottom}] outside its picture`);
        const { values, loop } = defs[name] ?? { values: [], loop: -1 };
        assert.equal(entries.length, values.length, `${id}: one entry per value`);
        if (values.length === 0)
            continue;
        // The scale: for the wave, from its lowest and highest samples; for bars, from zero to the
        // entry of the largest magnitude.
        const low = values.indexOf(Math.min(...values));
        const high = values.indexOf(Math.max(...values));
        const far = values.indexOf(values.reduce((best, v) => (Math.abs(v) > Math.abs(best) ? v : best)));
        const scale = id === 'wave' ? (entries[high].reach - entries[low].reach) / (values[high] - values[low] || 1)
                                    : entries[far].reach / (values[far] || 1);
        const zero = id === 'wave' ? entries[low].reach - scale * values[low] : 0;
        assert.ok(scale >= 0, `${id}: larger values reach further`);
        // A wave of 4-bit values (0 to 15), or of 5 or 6 bits, fills the picture as an 8-bit one does.
        if (id === 'wave' && high !== low)
            assert.ok(scale * rangeOf(values) > 0.8 * height, `wave: its full range fills the picture`);
        // The wave's axis at the middle of its table's range, not of its own extremes.
        if (id === 'wave')
            assert.ok(high === low ? Math.abs(-axis - entries[0].reach) > 1 : Math.abs(-axis - (zero + scale * rangeOf(values) / 2)) < 0.5, 'wave: its axis');
        values.forEach((value, i) => assert.ok(Math.abs(entries[i].reach - (zero + scale * value)) < 0.5,
                                               `${id}: entry ${i} (${value}) reaches ${entries[i].reach}`));
        if (loop < 0 || loop >= values.length) {
            assert.deepEqual(loops, [], `${id}: no loop mark`);
        } else {
            const [after, next] = [entries[loop], entries[loop + 1]];
            assert.equal(loops.length, 1, `${id}: one loop mark`);
            assert.ok(loops[0] >= after.x + after.width && (!next || loops[0] <= next.x),
                      `${id}: loop mark at ${loops[0]}, not just after entry ${loop}`);
        }
    }
}

// Entry k must be the command's output for the file with the k tags before it overwritten; Save
// all, keldo-list's output for the file.
async function expectEveryEntry(name, pxs) {
    assert.deepEqual(await listed(), pxs.map(String));
    const outputs = pxs.map((_, k) => entryOutput(name, pxs, k));
    const last = pxs.length - 1;
    for (const k of [...pxs.keys()].reverse()) {
        const started = Date.now();
        await page.click(`#instrument-${k}`);
        assert.equal(await shown(), outputs[k], `entry ${k}, clicked`);
        if (k === last)
            console.log(`# entry ${k}, at byte ${pxs[k]}, shown ${Date.now() - started} ms after the click`);
        await expectPicturesOf(outputs[k]);
        assert.equal(await page.$eval('[aria-selected="true"]', (e) => e.dataset.px), String(pxs[k]));
        assert.equal(await page.$eval('#instruments', (e) => e.getAttribute('aria-activedescendant')), `instrument-${k}`);
    }
    await page.focus('#instruments');
    for (const [key, k] of [['End', last], ['ArrowDown', last], ['Home', 0], ['ArrowUp', 0], ['ArrowDown', 1],
                            ['ArrowDown', 2], ['ArrowUp', 1], ['Enter', 1]]) {
        await page.press(key);
        assert.equal(await shown(), outputs[k], `${key} shows entry ${k}`);
    }
    assert.deepEqual(await saved('#save-all', name.replace('.bin', '-all.mml')), listOutput(files[name]));
    // Each entry's offset in hexadecimal too, its doubts, and its wave table, looping, in the zip
    // of waves.
    assert.deepEqual(await page.$$eval(OPTIONS, (items) => items.map((item) => item.textContent)),
                     expectedGroups([path.basename(files[name])], path.dirname(files[name]))[0].options);
    const names = outputs.map((_, k) => name.replace('.bin', `-${k}-wave.wav`));
    await savedZip('#save-all-waves', name.replace('.bin', '-waves.zip'), (zip, entries) => {
        assert.deepEqual(entries, names);
        names.forEach((entry, k) => assert.deepEqual(execFileSync('unzip', ['-p', zip, entry]), cycleWav(definitions(outputs[k]).WT0.values), entry));
    });
}

// The zip that `button` offers, which must be named `name` and test whole; `check` gets its path
// and the names it holds.
async function savedZip(button, name, check) {
    const zip = path.join(temp, 'saved.zip');
    fs.writeFileSync(zip, await saved(button, name));
    try {
        execFileSync('unzip', ['-tq', zip]);
        await check(zip, execFileSync('unzip', ['-Z1', zip]).toString().trim().split('\n'));
    } finally {
        fs.rmSync(zip);
    }
}

// The chips' table widths: a table's range is the smallest that holds its largest value.
const rangeOf = (values) => [15, 31, 63, 255].find((range) => Math.max(0, ...values) <= range);

// The loudness of frame j (1/60 s) as the page says it plays: the volume entries from 0, then the
// entries after "|" over and over, or the last entry held; full volume without entries.
function loudness({ values, loop }, j) {
    return values.length === 0 ? 1 : entryAt({ values, loop }, j) / rangeOf(values);
}

// The entry of an envelope that frame j plays: from entry 0, then those after "|" over and over,
// or the last held.
function entryAt({ values, loop }, j) {
    const looped = values.slice(loop + 1);
    return j < values.length ? values[j] : loop >= 0 && looped.length > 0 ? looped[(j - values.length) % looped.length] : values.at(-1);
}

// The pitch of each of `count` frames of a note at `frequency` whose pitch envelope is `pitch`,
// as the page says each mode reads it.
function pitches(mode, pitch, frequency, count) {
    const period = Math.round(3579545 / (32 * frequency));
    let sum = 0;
    return Array.from({ length: count }, (_, j) => {
        const entry = pitch.values.length ? entryAt(pitch, j) : 0;
        sum += entry;
        const hz = { period: 3579545 / (32 * (period + sum)), fine: frequency * 2 ** (sum / 16 / 12), semitones: frequency * 2 ** (entry / 12) }[mode];
        return Math.min(20000, Math.max(20, hz ?? frequency));
    });
}

// The pitch of each whole frame of `samples` but the first, measured from the rising zero
// crossings wholly inside it (interpolated; armed only from below, so that the ripple of a
// band-limited step counts once).
function measuredPitches(samples, count) {
    const crossings = [];
    let armed = false;
    samples.forEach((sample, i) => {
        if (sample < -0.3)
            armed = true;
        else if (armed && sample >= 0 && samples[i - 1] < 0) {
            armed = false;
            crossings.push(i - 1 + samples[i - 1] / (samples[i - 1] - sample));
        }
    });
    return Array.from({ length: count - 1 }, (_, j) => {
        const inside = crossings.filter((t) => t > (j + 1) * FRAME && t < (j + 2) * FRAME);
        return ((inside.length - 1) * RATE) / (inside.at(-1) - inside[0]);
    });
}

// The .fui file `bytes` read as the tracker's format document describes it; every feature and
// block must end where its length says.
function readFui(bytes) {
    const text = (at, length) => bytes.subarray(at, at + length).toString('latin1');
    assert.equal(text(0, 4), 'FINS');
    const features = {};
    let at = 8;
    for (let code; (code = text(at, 2)) !== 'EN'; at += 4 + bytes.readUInt16LE(at + 2))
        features[code] = bytes.subarray(at + 4, at + 4 + bytes.readUInt16LE(at + 2));
    assert.deepEqual(Object.keys(features), ['NA', 'MA', 'WL']);
    const [name, rest] = features.NA.toString('utf8').split('\0');
    assert.equal(rest, '', 'the name ends the NA feature');
    const macros = {};
    const ma = features.MA;
    assert.equal(ma.readUInt16LE(0), 8);
    let m = 2;
    for (; ma[m] !== 255; m += 8 + ma[m + 1]) {
        const [code, length, loop, release, mode, size, delay, speed] = ma.subarray(m, m + 8);
        const values = [...ma.subarray(m + 8, m + 8 + length)].map((v) => (size & 0x40 ? (v << 24) >> 24 : v));
        macros[code] = { values, loop, release, mode, signed: (size & 0xc0) === 0x40, delay, speed };
    }
    assert.equal(m, ma.length - 1, 'the macros end the MA feature');
    assert.deepEqual([...features.WL.subarray(0, 2)], [1, 0]);
    const wave = features.WL.readUInt32LE(2);
    assert.deepEqual([features.WL.length, wave, text(wave, 4)], [6, at + 2, 'WAVE']);
    assert.equal(wave + 8 + bytes.readUInt32LE(wave + 4), bytes.length, 'the wavetable ends the file');
    assert.deepEqual([bytes[wave + 8], bytes.readUInt32LE(wave + 9), bytes.readUInt32LE(wave + 13)], [0, 32, 0]);
    const values = Array.from({ length: 32 }, (_, i) => bytes.readUInt32LE(wave + 21 + 4 * i));
    return { version: bytes.readUInt16LE(4), type: bytes.readUInt16LE(6), name, macros, height: bytes.readUInt32LE(wave + 17), values };
}

// The .fui the page must save for keldo's `text`, named `name`, with the pitch envelope as
// `mode` plays it: the chip for its wave's height and the envelopes as macros looping back to the
// entry after "|".
function expectedFui(text, name, mode) {
    const { WT0: wave, v0: volume, EP0: pitch } = definitions(text);
    const height = rangeOf(wave.values);
    const [type, top] = { 15: [48, 31], 31: [5, 31], 63: [16, 15], 255: [18, 15] }[height];
    const macro = ({ values, loop }, mode, signed) => ({ values, loop: loop >= 0 && loop + 1 < values.length ? loop + 1 : 255, release: 255, mode, signed, delay: 0, speed: 1 });
    const macros = { 3: macro({ values: [0], loop: -1 }, 0, false) };
    if (volume.values.length)
        macros[0] = macro({ values: volume.values.map((v) => Math.min(v, top)), loop: volume.loop }, 0, false);
    if (mode !== 'off' && pitch.values.length)
        macros[4] = macro({ values: pitch.values.map((v) => v + 0), loop: pitch.loop }, mode === 'semitones' ? 0 : 1, true);
    return { version: 228, type, name, macros, height, values: wave.values };
}

const RATE = 44100;
const FRAME = RATE / 60;

// The wave table `values` as the single-cycle WAV a sampler loops: 16-bit mono PCM at 32 x 440
// samples a second, each entry centred on the middle of its table's range, and a sampler chunk
// that says it sounds A4 (MIDI note 69) and loops forward over samples 0 to 31.
function cycleWav(values) {
    const range = rangeOf(values);
    const data = Buffer.alloc(2 * values.length);
    values.forEach((value, i) => data.writeInt16LE(Math.round(((value - range / 2) / (range / 2)) * 32767), 2 * i));
    const words = (...numbers) => Buffer.from(new Uint32Array(numbers).buffer);
    const format = Buffer.concat([Buffer.from([1, 0, 1, 0]), words(14080, 2 * 14080), Buffer.from([2, 0, 16, 0])]);
    const sampler = words(0, 0, Math.round(1e9 / 14080), 69, 0, 0, 0, 1, 0, /* the loop: */ 0, 0, 0, 31, 0, 0);
    const chunk = (id, body) => Buffer.concat([Buffer.from(id), words(body.length), body]);
    const body = Buffer.concat([Buffer.from('WAVE'), chunk('fmt ', format), chunk('data', data), chunk('smpl', sampler)]);
    return Buffer.concat([Buffer.from('RIFF'), words(body.length), body]);
}

function wavHeader(samples) {
    const header = Buffer.alloc(44);
    header.write('RIFF', 0);
    header.writeUInt32LE(36 + 2 * samples, 4);
    header.write('WAVEfmt ', 8);
    header.writeUInt32LE(16, 16);
    header.writeUInt16LE(1, 20);
    header.writeUInt16LE(1, 22);
    header.writeUInt32LE(RATE, 24);
    header.writeUInt32LE(2 * RATE, 28);
    header.writeUInt16LE(2, 32);
    header.writeUInt16LE(16, 34);
    header.write('data', 36);
    header.writeUInt32LE(2 * samples, 40);
    return header;
}

// Checks `samples` (from -1 to 1, at RATE), a note of the instrument in `text` at `frequency`
// held for `held` samples: each frame's peak as its volume entry gives it (looping while held),
// on one scale whose full range peaks between -3 and -1 dB, with room for the ripple of
// band-limited steps; silence where the entry is 0 or the wave flat; over the first audible
// frames, one cycle every 1/frequency s; and after `held`, a ramp to silence within 10 ms that
// starts from the note's level, not from nothing. The first `overlapped` frames, where a note
// let go fades out under this one, are left out.
function expectSound(samples, text, frequency, held, overlapped = 0) {
    const { WT0: wave, v0: volume } = definitions(text);
    const middle = rangeOf(wave.values) / 2;
    const flat = wave.values.every((value) => value === wave.values[0]);
    const extent = Math.max(...wave.values.map((value) => Math.abs(value - middle))) / middle;
    const whole = Math.floor(held / FRAME);  // the frames wholly before the release
    const frames = Array.from({ length: whole }, (_, j) => samples.slice(j * FRAME, (j + 1) * FRAME));
    const levels = frames.map((_, j) => (flat ? 0 : extent * loudness(volume, j)));
    const peak = (part) => Math.max(0, ...part.map(Math.abs));
    const peaks = frames.map(peak);
    const loudest = levels.indexOf(Math.max(...levels.slice(overlapped)), overlapped);
    const fullScale = peaks[loudest] / (levels[loudest] || 1);
    if (!flat)
        assert.ok(fullScale >= 10 ** (-3 / 20) && fullScale <= 1.2 * 10 ** (-1 / 20), `a full-range wave peaks at ${fullScale} of full scale`);
    frames.forEach((frame, j) => {
        if (j < overlapped)
            return;
        if (levels[j] === 0)
            return assert.ok(frame.every((sample) => sample === 0), `frame ${j} is silent`);
        assert.ok(Math.abs(peaks[j] / fullScale - levels[j]) <= 0.05, `frame ${j} peaks at ${peaks[j] / fullScale} of the full range, not ${levels[j]}`);
    });
    // From silence, the note rises within 2 ms by no step larger than the wave's own.
    const largestStep = (part) => Math.max(...part.slice(1).map((sample, i) => Math.abs(sample - part[i])));
    if (overlapped === 0 && !flat)
        assert.ok(largestStep([0, ...samples.slice(0, RATE / 500)]) <= largestStep(frames[loudest]), 'a step at the onset');
    const after = samples.slice(held);
    assert.ok(after.slice(Math.round(RATE / 100)).every((sample) => Math.abs(sample) < 1e-3), 'silent from 10 ms after the release');
    const atRelease = flat ? 0 : fullScale * extent * loudness(volume, Math.floor(held / FRAME));
    // The ramp takes its time: in each of the first two ms after the release, the note still
    // sounds at half and a quarter of its level at least.
    const ms = (k) => peak(after.slice(k * RATE / 1000, (k + 1) * RATE / 1000));
    if (atRelease > 0.05 && after.length > 0)
        assert.ok(ms(0) >= atRelease / 2 && ms(1) >= atRelease / 4, `after the release, ${ms(0)} then ${ms(1)}: no ramp from ${atRelease}`);
    if (flat)
        return;
    const silentFrom = levels.indexOf(0, overlapped);
    const audible = samples.slice(FRAME * overlapped, FRAME * (silentFrom < 0 ? whole : silentFrom));
    // Each cycle once: where the sound rises through the upper part of its frame's span, having
    // been in the lower part since the last time, so that the ripple of band-limited steps
    // counts for nothing.
    const spans = Array.from({ length: Math.ceil(audible.length / FRAME) }, (_, j) => {
        const frame = audible.slice(j * FRAME, (j + 1) * FRAME);
        return [Math.min(...frame), Math.max(...frame)];
    });
    const rising = [];
    let armed = false;
    audible.forEach((sample, i) => {
        const [low, high] = spans[Math.floor(i / FRAME)];
        if (sample < low + 0.2 * (high - low)) {
            armed = true;
        } else if (armed && sample > high - 0.2 * (high - low)) {
            armed = false;
            rising.push(i);
        }
    });
    const period = (rising.at(-1) - rising[0]) / (rising.length - 1);
    assert.ok(Math.abs(period / (RATE / frequency) - 1) < 0.005, `one cycle every ${period} samples at ${frequency} Hz`);
}

// The saved note: one second of 16-bit mono, its release in its last 5 ms, its last sample within
// 1/1000 of full scale.
function expectNote(wav, text, frequency) {
    assert.deepEqual(wav.subarray(0, 44), wavHeader(RATE), 'the WAV header');
    assert.equal(wav.length, 44 + 2 * RATE);
    const samples = Array.from({ length: RATE }, (_, i) => wav.readInt16LE(44 + 2 * i) / 32767);
    expectSound(samples, text, frequency, RATE - Math.round(RATE / 200));
    assert.ok(Math.abs(samples.at(-1)) <= 1e-3, `the last sample is ${samples.at(-1)}`);
}

// The amplitude of `samples` at `frequency`, windowed (4-term Blackman-Harris): a tone's
// amplitude wherever it falls between the bins of a transform.
function amplitudeAt(samples, frequency) {
    let [re, im, sum] = [0, 0, 0];
    samples.forEach((sample, n) => {
        const w = blackmanHarris(n, samples.length);
        re += sample * w * Math.cos((2 * Math.PI * frequency * n) / RATE);
        im -= sample * w * Math.sin((2 * Math.PI * frequency * n) / RATE);
        sum += w;
    });
    return (2 * Math.hypot(re, im)) / sum;
}

function blackmanHarris(n, size) {
    const x = (2 * Math.PI * n) / (size - 1);
    return 0.35875 - 0.48829 * Math.cos(x) + 0.14128 * Math.cos(2 * x) - 0.01168 * Math.cos(3 * x);
}

// The windowed spectrum's magnitudes, bin by bin (a radix-2 transform; the size a power of 2).
function spectrum(samples) {
    const size = samples.length;
    const re = samples.map((sample, n) => sample * blackmanHarris(n, size));
    const im = new Array(size).fill(0);
    for (let i = 1, j = 0; i < size; ++i) {
        let bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            [re[i], re[j], im[i], im[j]] = [re[j], re[i], im[j], im[i]];
    }
    for (let length = 2; length <= size; length <<= 1) {
        const angle = (-2 * Math.PI) / length;
        for (let start = 0; start < size; start += length) {
            for (let k = 0; k < length / 2; ++k) {
                const [c, s] = [Math.cos(angle * k), Math.sin(angle * k)];
                const [a, b] = [start + k, start + k + length / 2];
                const [tr, ti] = [re[b] * c - im[b] * s, re[b] * s + im[b] * c];
                [re[b], im[b]] = [re[a] - tr, im[a] - ti];
                [re[a], im[a]] = [re[a] + tr, im[a] + ti];
            }
        }
    }
    return re.slice(0, size / 2).map((r, k) => Math.hypot(r, im[k]));
}

// The ideal stepped wave's partials, from the wave sampled finely (256 points a step) and
// transformed: partial k's amplitude relative to the fundamental.
function idealPartials(values, count) {
    const fine = values.flatMap((value) => Array(256).fill(value));
    const partial = (k) => Math.hypot(...[Math.cos, Math.sin].map((f) =>
        fine.reduce((sum, value, n) => sum + value * f((2 * Math.PI * k * n) / fine.length), 0)));
    return Array.from({ length: count }, (_, k) => partial(k + 1) / partial(1));
}

// The note of `values` (a full-volume table) at `frequency`, over its steady part: every partial
// below 20 kHz within 1 dB of the ideal stepped wave's, against the fundamental; everything else
// below 20 kHz at least 60 dB under the fundamental.
function expectBandLimited(samples, values, frequency) {
    const steady = samples.slice(RATE / 10, RATE / 10 + 16384);
    const count = Math.floor(20000 / frequency);
    const ideal = idealPartials(values, count);
    const fundamental = amplitudeAt(steady, frequency);
    const dB = (ratio) => 20 * Math.log10(ratio);
    ideal.forEach((relative, i) => {
        if (relative < 1e-4)
            return;
        const measured = amplitudeAt(steady, (i + 1) * frequency) / fundamental;
        assert.ok(Math.abs(dB(measured / relative)) <= 1, `partial ${i + 1}: ${dB(measured).toFixed(1)} dB, the ideal ${dB(relative).toFixed(1)} dB`);
    });
    const bins = spectrum(steady);
    const binHz = RATE / steady.length;
    const scale = bins[Math.round(frequency / binHz)];
    bins.forEach((magnitude, k) => {
        const hz = k * binHz;
        const nearest = Math.round(hz / frequency) * frequency;
        if (hz < 20000 && Math.abs(hz - nearest) > 6 * binHz)
            assert.ok(dB(magnitude / scale) <= -60, `${hz.toFixed(0)} Hz at ${dB(magnitude / scale).toFixed(1)} dB from the fundamental`);
    });
}

// A held note of a full-volume wave table `values` at `frequency`, from its 2,000th sample on
// (past its rise): the ideal stepped wave's partials below half the sample rate, summed here,
// sample by sample, its phase 0 at the first sample, at -2 dB of full scale.
function expectIdeal(samples, values, frequency) {
    const n = values.length;
    const centred = values.map((v) => (v - rangeOf(values) / 2) / (rangeOf(values) / 2));
    const partials = Array.from({ length: Math.ceil(RATE / 2 / frequency) }, (_, k) => {
        const [re, im] = centred.reduce(([a, b], v, j) => [a + v * Math.cos((2 * Math.PI * k * j) / n), b - v * Math.sin((2 * Math.PI * k * j) / n)], [0, 0]);
        const theta = (2 * Math.PI * k) / n;
        // Partial k of the wave times that of one step, (1 - e^-iθ) / (2πik); the mean for k = 0.
        const [stepRe, stepIm] = k ? [Math.sin(theta) / (2 * Math.PI * k), -(1 - Math.cos(theta)) / (2 * Math.PI * k)] : [1 / n, 0];
        return [(k ? 2 : 1) * (re * stepRe - im * stepIm), (k ? 2 : 1) * (re * stepIm + im * stepRe)];
    });
    for (let i = 2000; i < 8000; ++i) {
        const cycles = (i * frequency) / RATE;
        const ideal = partials.reduce((sum, [a, b], k) => sum + a * Math.cos(2 * Math.PI * k * cycles) - b * Math.sin(2 * Math.PI * k * cycles), 0);
        assert.ok(Math.abs(samples[i] - 10 ** (-2 / 20) * ideal) < 1e-3, `sample ${i}: ${samples[i]}, the ideal ${10 ** (-2 / 20) * ideal}`);
    }
}

// Equal temperament, A4 at 440 Hz, by MIDI note number.
const hz = (note) => 440 * 2 ** ((note - 69) / 12);
const NOTE_HZ = { A4: 440, C6: hz(84), 'C#6': hz(85), C7: hz(96) };

// Plays the instrument of test file `name` on the page's own audio graph, rendered offline for
// `seconds`: each of `events` ([seconds, action]) happens with the rendering stopped at that
// time, the first before it starts. Returns the samples, and the sample at which each later
// event happened.
async function renderPlaying(name, seconds, [[, first], ...later], url = `${origin}/`) {
    await load(url);  // a page that has made no audio yet
    await page.evaluate((total) => window.useOfflineAudio(total), seconds);
    await choose(files[name]);
    await finished();
    await first();
    const failed = /could not start its sound/;
    await page.waitForFunction((f) => window.voices.length > 0 || new RegExp(f).test(document.querySelector('#player-status').textContent), failed.source);
    assert.doesNotMatch(await page.$eval('#player-status', (e) => e.textContent), failed);
    await page.evaluate((times) => {
        const context = window.audioContexts.at(-1);
        window.stopped = [];
        for (const time of times)
            context.suspend(time).then(() => window.stopped.push(Math.round(context.currentTime * 44100)));
        window.rendering = context.startRendering().then((buffer) => Array.from(buffer.getChannelData(0)));
    }, later.map(([time]) => time));
    for (const [i, [, action]] of later.entries()) {
        await page.waitForFunction((n) => window.stopped.length === n, i + 1);
        await action();
        await page.evaluate(() => OfflineAudioContext.prototype.resume.call(window.audioContexts.at(-1)));
    }
    return page.evaluate(async () => ({ samples: await window.rendering, at: window.stopped }));
}

// axe-core's findings on the page as it stands: none may be left.
async function expectAccessible(state) {
    await page.script(`(() => { if (!window.axe) { ${axe}\n } return true; })()`);
    const violations = await page.script(`axe.run(document).then(({ violations }) => violations.map(
        (v) => v.id + ': ' + v.nodes.map((node) => node.target.join(' ')).join(', ')))`);
    assert.deepEqual(violations, [], state);
}

const pressedKeys = () => page.$$eval('#keyboard [aria-pressed="true"]', (keys) => keys.map((key) => key.dataset.note));

// The page (at `url`) loaded afresh with `file` chosen, and KeyZ held down until its key, C4,
// shows pressed.
async function holdingC4Of(file, url = `${origin}/`) {
    await load(url);
    await choose(file);
    await finished();
    await page.keyDown('KeyZ');
    await page.waitForFunction(() => document.querySelector('[data-note="C4"]').getAttribute('aria-pressed') === 'true');
}

// The rows that play the instrument by its keys and by Play, on the page served (`where` is
// 'served') or opened from the disk ('disk'): in Chromium, measured from what the page sends to
// its audio output; elsewhere, played with no error. From the disk, the rows that show it plays.
function keyRows(engine, where) {
    const url = () => (where === 'disk' ? oneFileUrl : `${origin}/`);
    if (where === 'served') {
        test('choosing another instrument ends the note sounding; a browser without MIDI, or one that refuses it, says so', async () => {
            await holdingC4Of(files['repeats.bin']);
            await page.click('#instrument-1');
            assert.deepEqual(await pressedKeys(), []);
            await page.keyUp('KeyZ');
            const status = () => page.$eval('#player-status', (e) => e.textContent);
            await page.evaluate(() => (navigator.requestMIDIAccess = undefined));
            await page.click('#midi');
            assert.match(await status(), /^This browser has no MIDI: play the keys/);
            await page.evaluate(() => (navigator.requestMIDIAccess = () => Promise.reject(new DOMException('not allowed', 'SecurityError'))));
            await page.click('#midi');
            await page.waitForFunction(() => /refused/.test(document.querySelector('#player-status').textContent));
            assert.match(await status(), /^The browser refused MIDI \(SecurityError\): play the keys/);
            assert.deepEqual(await page.evaluate(() => window.pageErrors), []);
        });

        test('after a choice from a menu or a file box, the computer\'s keys play; the menu keeps its arrows and ignores them', async () => {
            await holdingC4Of(files['held.bin']);
            await page.keyUp('KeyZ');
            assert.deepEqual(await page.$$eval('#keyboard .black', (keys) => keys.map((key) => key.dataset.note)),
                             ['C#4', 'D#4', 'F#4', 'G#4', 'A#4', 'C#5', 'D#5', 'F#5', 'G#5', 'A#5']);
            await page.controlDown('KeyC');  // a copy, not a note
            assert.deepEqual(await pressedKeys(), []);
            await page.controlUp('KeyC');
            await page.focus('#octave');
            await page.press('ArrowDown');
            assert.equal(await page.$eval('#octave', (select) => select.value), '5');
            for (const [box, code, note] of [['#octave', 'Digit2', 'C#6'], ['#file', 'KeyZ', 'C5']]) {
                await page.focus(box);
                await page.keyDown(code);
                await page.waitForFunction((wanted) => document.querySelector('#keyboard [aria-pressed="true"]')?.dataset.note === wanted, note);
                await page.keyUp(code);
            }
            assert.equal(await page.$eval('#octave', (select) => select.value), '5', 'the menu took the key');
        });

        test('the same file chosen again, after a finished run, is read again', async () => {
            await choose(files.sample);
            await finished();
            await choose(files.sample);
            assert.match((await finished()).status, /^demo\.bin: the instrument block starts/);
        });

        test('with an instrument shown, the keys are in view at 1280x800 without scrolling; at 390x844 each is reached by touch where it is drawn', { skip: engine === 'webkit' && 'WebDriver sets the size of the window, not of the page\'s view' }, async () => {
            try {
                for (const [width, height] of [[1280, 800], [390, 844]]) {
                    await page.viewport(width, height);
                    await load(url());
                    await choose(files.sample);
                    await finished();
                    const misses = await page.$$eval('#keyboard > button', (keys, whole) => keys.filter((key) => {
                        if (!whole)  // the page scrolled to the key, as a finger does; the keyboard itself not
                            scrollTo(0, scrollY + key.getBoundingClientRect().top - innerHeight / 2);
                        const box = key.getBoundingClientRect();
                        const [x, y] = [box.left + box.width / 2, box.bottom - 4];  // below the black keys
                        return box.left < 0 || box.right > document.documentElement.clientWidth || box.top < 0 || box.bottom > innerHeight || document.elementFromPoint(x, y) !== key ||
                               (whole && scrollY !== 0);
                    }).map((key) => key.dataset.note), width > 1000);
                    assert.deepEqual(misses, [], `at ${width}x${height}`);
                }
            } finally {
                await page.viewport(800, 600);
            }
        });
    }

    if (engine !== 'chromium') {
        test('the computer\'s keys and Play sound the shown instrument with no error', async () => {
            await holdingC4Of(files['held.bin'], url());
            await page.keyUp('KeyZ');
            await page.waitForFunction(() => !document.querySelector('#keyboard [aria-pressed="true"]'));
            const before = await page.evaluate(() => window.voices.length);
            await page.click('#play');
            await page.waitForFunction((n) => window.voices.length > n || /./.test(document.querySelector('#player-status').textContent), before);
            assert.equal(await page.$eval('#player-status', (e) => e.textContent), '');
            assert.deepEqual(await page.evaluate(() => window.pageErrors), []);
        });
        return;
    }
    const held = () => nativeOutput(files['held.bin']);
    test('KeyZ held at octave 4 sounds C4 as the model plays it, looping its envelope; a repeat restarts nothing; let go, it fades out within 10 ms', async () => {
        const { samples, at } = await renderPlaying('held.bin', 2.5, [
            [0, () => page.keyDown('KeyZ')],
            [0.3, () => page.keyDown('KeyZ')],  // the system's repeat
            [2, () => page.keyUp('KeyZ')],
        ], url());
        expectSound(samples, held(), 261.626, at[1]);
    });

    test('Play sounds one second of the instrument at the chosen note, as the model plays it', async () => {
        const { samples } = await renderPlaying('held.bin', 1.5, [[0, async () => {
            await page.$eval('#note', (select) => (select.value = 'E4'));
            await page.click('#play');
        }]], url());
        expectSound(samples, held(), 329.628, RATE - Math.round(RATE / 200));
    });

    if (where === 'disk')
        return;

    test('a held note and the saved note follow the pitch envelope frame by frame in each mode, remembered; the .fui keeps it as that mode reads it', async () => {
        const { EP0: envelope } = definitions(nativeOutput(files['slide.bin']));
        for (const mode of ['period', 'fine', 'semitones', 'off']) {  // off last, for the rows after
            await pick('#pitch-mode', mode);
            // A new visit, which must remember the mode.
            // At C6, where a period rounded down instead of to the nearest is 1% off.
            const { samples } = await renderPlaying('slide.bin', 1, [[0, () => pick('#octave', '5').then(() => page.keyDown('KeyQ'))],
                                                                     [0.9, () => page.keyUp('KeyQ')]]);
            await page.$eval('#note', (select) => (select.value = 'C6'));
            const wav = await saved('#save-wav', 'slide-0-C6.wav');
            for (const [sound, hz] of [[samples, NOTE_HZ.C6], [Array.from({ length: RATE / 2 }, (_, i) => wav.readInt16LE(44 + 2 * i) / 32767), NOTE_HZ.C6]]) {
                const measured = measuredPitches(sound, 30);
                pitches(mode, envelope, hz, 30).slice(1).forEach((expected, j) =>
                    assert.ok(Math.abs(measured[j] / expected - 1) < 0.005, `${mode}, ${hz} Hz, frame ${j + 1}: ${measured[j].toFixed(2)} Hz, not ${expected.toFixed(2)}`));
            }
            assert.deepEqual(readFui(await saved('#save-fui', 'slide-0.fui')), expectedFui(nativeOutput(files['slide.bin']), 'slide-0', mode));
        }
    });

    test('KeyQ sounds C5; KeyX, pressed while it sounds, takes its place from the first volume entry; letting go of KeyQ then changes nothing', async () => {
        const { samples, at } = await renderPlaying('held.bin', 2, [
            [0, () => page.keyDown('KeyQ')],
            [0.5, async () => {
                assert.deepEqual(await pressedKeys(), ['C5']);
                await page.keyDown('KeyX');
                assert.deepEqual(await pressedKeys(), ['D4']);
            }],
            [1, () => page.keyUp('KeyQ')],
            [1.5, () => page.keyUp('KeyX')],
        ]);
        expectSound(samples.slice(0, at[0]), held(), 523.251, at[0]);
        expectSound(samples.slice(at[0]), held(), 293.665, at[2] - at[0], 1);
    });

    test('the on-screen A4 key, held by the pointer, sounds 440 Hz and shows as pressed', async () => {
        const { samples, at } = await renderPlaying('held.bin', 1, [
            [0, () => page.pointerDown('#keyboard [data-note="A4"]')],
            [0.5, async () => {
                assert.deepEqual(await pressedKeys(), ['A4']);
                await page.pointerUp();
            }],
        ]);
        assert.deepEqual(await pressedKeys(), []);
        expectSound(samples, held(), 440, at[0]);
    });

    test('a MIDI note-on 69, on any channel, sounds 440 Hz until its note-off; another note\'s note-off changes nothing', async () => {
        const midi = (bytes) => page.evaluate((data) => window.midiInput.onmidimessage({ data: new Uint8Array(data) }), bytes);
        const { samples, at } = await renderPlaying('held.bin', 1.5, [
            [0, async () => {
                await page.evaluate(() => {
                    window.midiInput = { name: 'Test keyboard', onmidimessage: null };
                    navigator.requestMIDIAccess = async () => ({ inputs: new Map([['1', window.midiInput]]), onstatechange: null });
                });
                await page.click('#midi');
                await page.waitForFunction(() => document.querySelector('#player-status').textContent === 'MIDI: playing from Test keyboard.');
                await midi([0x92, 69, 100]);
            }],
            [0.4, () => midi([0x80, 60, 0])],
            [0.8, () => midi([0x92, 69, 0])],
        ]);
        expectSound(samples, held(), 440, at[1]);
    });

    test('a key let go while the sound still loads starts no note', async () => {
        await load(url());
        await choose(files['held.bin']);
        await finished();
        await page.evaluate(() => {
            const addModule = AudioWorklet.prototype.addModule;
            AudioWorklet.prototype.addModule = function (...args) {
                return new Promise((resolve) => (window.loadWorklet = () => resolve(addModule.apply(this, args))));
            };
        });
        await page.keyDown('KeyZ');
        await page.waitForFunction(() => window.loadWorklet);
        await page.keyUp('KeyZ');
        await page.evaluate(() => window.loadWorklet());
        // A note pressed after it waits for the same load, and so starts after the first would.
        await page.keyDown('KeyX');
        await page.waitForFunction(() => window.voices.length > 0);
        assert.equal(await page.evaluate(() => window.voices.length), 1);
        await page.keyUp('KeyX');
    });

    test('a square at C7 and A7, held and saved, is band-limited: its partials as the ideal stepped wave\'s, nothing else within 60 dB', async () => {
        const { samples, at } = await renderPlaying('square.bin', 1, [[0, () => pick('#octave', '7').then(() => page.keyDown('KeyZ'))],
                                                                       [0.8, () => page.keyUp('KeyZ')]]);
        expectSound(samples, nativeOutput(files['square.bin']), NOTE_HZ.C7, at[0]);
        expectBandLimited(samples, SQUARE, NOTE_HZ.C7);
        expectIdeal(samples, SQUARE, NOTE_HZ.C7);
        // At A7, one partial past half the sample rate would fold to 19.5 kHz.
        const a7 = await renderPlaying('square.bin', 0.5, [[0, () => pick('#octave', '7').then(() => page.keyDown('KeyN'))]]);
        expectBandLimited(a7.samples, SQUARE, hz(105));
        expectIdeal(a7.samples, SQUARE, hz(105));
        await page.$eval('#note', (select) => (select.value = 'C7'));
        const wav = await saved('#save-wav', 'square-0-C7.wav');
        expectNote(wav, nativeOutput(files['square.bin']), NOTE_HZ.C7);
        expectBandLimited(Array.from({ length: RATE }, (_, i) => wav.readInt16LE(44 + 2 * i) / 32767), SQUARE, NOTE_HZ.C7);
    });
}

const CASES = [
    { name: 'the sample', file: 'sample', status: /^demo\.bin: the instrument block starts at byte 4098\. It holds no other instrument\.$/, note: 'A4' },
    { name: 'a file without the tag', file: 'no-tag.bin', status: /holds no SNDF tag/ },
    { name: 'an empty file', file: 'empty.bin', status: /is empty/ },
    { name: 'a block that runs past the end of the file, dropped on the page', file: 'cut-short.bin', status: /starts at byte 14/, drop: true, note: 'A4' },
    { name: 'a 4-bit wave, its volume looping over an entry of 0', file: 'wave4-loop.bin', status: /starts at byte 4\./, note: 'A4', cycle: true,
      envelopes: '15 12 9 | 0 6 3\n1 | -1', chip: 'Saved wave4-loop-0.fui, for the Sharp SM8521.' },
    { name: 'a 5-bit wave at C#6, its volume holding its last entry', file: 'wave5-hold.bin', status: /starts at byte 4\./, note: 'C#6', cycle: true,
      envelopes: '31 0 16 20\n', chip: 'Saved wave5-hold-0.fui, for the PC Engine.' },
    { name: 'a wave table of one value', file: 'flat.bin', status: /starts at byte 4\./, note: 'A4' },
    { name: 'an instrument at the top and bottom of every picture', file: 'extremes.bin', status: /starts at byte 4\./, cycle: true,
      envelopes: '255 0 | 128\n-127 127 0 -127',
      chip: 'Saved extremes-0.fui, for the Konami SCC: its volume entries above 15 are held at 15, the Konami SCC\'s top.' },
    { name: 'five instruments, two of them the same as an earlier one', file: 'repeats.bin',
      status: /^repeats\.bin: the instrument block starts at byte 4\. It holds 5 instruments, 3 different, 1 doubtful\.$/, same: [null, null, '0', null, '1'] },
    { name: 'a tag across the edge of two 32 MiB slices', file: 'slice-edge.bin', status: /starts at byte 33554434\./ },
    { name: 'a 5 GiB sparse file with five tags, the last past 4 GiB', file: 'several.bin', status: /starts at byte 14\. It holds 5 instruments, 5 different, 4 doubtful\.$/,
      pxs: [14, 4097, 4204, 70004, 2 ** 32 + 4097], skip: { webkit: { disk: 'WebKit lets a page opened from the disk read at most 1 GiB' } } },
];

// The table's rows, on the page served (`where` is 'served') or opened from the disk ('disk').
function tableRows(engine, where) {
    for (const c of CASES) {
        const name = `${c.name}: the native output, and pictures that match it${c.pxs ? '; every entry and Save all' : ''}`;
        test(name, { skip: c.skip?.[engine]?.[where] ?? false }, async () => {
            const started = Date.now();
            await (c.drop ? drop : choose)(files[c.file]);
            const { status, text } = await finished();
            assert.match(status, c.status);
            assert.equal(text, nativeOutput(files[c.file]));
            await expectPicturesOf(text);
            if (c.note) {
                await page.$eval('#note', (select, note) => (select.value = note), c.note);
                const note = c.note.replace('#', 's');
                expectNote(await saved('#save-wav', path.basename(files[c.file]).replace(/\.bin$/, `-0-${note}.wav`)), text, NOTE_HZ[c.note]);
            }
            if (c.cycle) {
                const cycle = await saved('#save-cycle', path.basename(files[c.file]).replace(/\.bin$/, '-0-wave.wav'));
                assert.deepEqual(cycle, cycleWav(definitions(text).WT0.values));
                const file = path.join(temp, 'cycle.wav');
                fs.writeFileSync(file, cycle);
                const info = execFileSync('sox', ['--i', file]).toString();
                fs.rmSync(file);
                assert.match(info, /Sample Rate\s*: 14080\n/);
                assert.match(info, /Duration\s*: [\d:.]+ = 32 samples/);
                const stem = path.basename(files[c.file], '.bin');
                assert.deepEqual(readFui(await saved('#save-fui', `${stem}-0.fui`)), expectedFui(text, `${stem}-0`, 'off'));
                assert.equal(await page.$eval('#message', (e) => e.textContent), c.chip);
                if (where === 'served') {
                    await page.click('#copy-envelopes');
                    await page.waitForFunction(() => /envelopes/.test(document.querySelector('#message').textContent));
                    assert.equal(await page.evaluate(() => window.copied), c.envelopes);
                }
            }
            if (c.same) {
                const texts = await page.$$eval(OPTIONS, (items) => items.map((item) => item.textContent));
                assert.deepEqual(texts.map((t) => t.match(/same as (\d+)$/)?.[1] ?? null), c.same);
            }
            if (c.pxs) {
                console.log(`# ${engine}, ${where}: ${c.name}: listed in ${((Date.now() - started) / 1000).toFixed(1)} s`);
                await expectEveryEntry(c.file, c.pxs);
            }
        });
    }
}

// The list the page shows for `paths`, named as the page names them (from `cwd`): keldo-list
// --json's instruments by file, each entry said as the page says it, with the first earlier
// entry that holds the same instrument and whether it is doubtful; an archive's members after
// it, as files of their own.
function expectedGroups(paths, cwd) {
    const lines = spawnSync(keldoList, ['--json', ...paths], { cwd }).stdout.toString().trim().split('\n').map((line) => JSON.parse(line));
    const first = new Map();
    const said = ({ number, px, wave, volume, pitch, doubtful }) => {
        const instrument = JSON.stringify([wave, volume, pitch]);
        first.set(instrument, first.get(instrument) ?? number);
        const same = first.get(instrument) < number ? `, same as ${first.get(instrument)}` : '';
        return `${number}: 0x${px.toString(16).toUpperCase().padStart(8, '0')} (${px})${same}${doubtful.length ? ', doubtful' : ''}`;
    };
    const nameOf = ({ file, member }) => (member ? `${file.text}:${member.text}` : file.text);
    return paths.flatMap((file) => {
        const mine = lines.filter((line) => line.file.text === file);
        const members = [...new Set(mine.filter(({ member }) => member).map(nameOf))];
        const group = (name) => ({ file: name, options: mine.filter((line) => line.type === 'instrument' && nameOf(line) === name).map(said) });
        return members.length ? [{ file, options: [] }, ...members.map(group)] : [group(file)];
    });
}

// The page's groups: each file's path, its line and its entries as said.
const groups = () => page.$$eval('#instruments [role="group"]', (items) => items.map((group) => ({
    file: group.dataset.file,
    line: group.querySelector('.file').textContent,
    options: [...group.querySelectorAll('[role="option"]')].map((option) => option.textContent),
})));

// Runs `choosing`, holding the page's messages to its worker until `meanwhile` has run, so that
// what it does comes before the run reads anything; and counts the workers the run starts.
async function holdingTheRun(choosing, meanwhile) {
    await page.evaluate(() => {
        window.workersStarted = 0;
        window.held = [];
        Worker.prototype.postMessage = function (...args) {
            held.push([this, args]);
        };
    });
    try {
        await choosing();
        await page.waitForFunction(() => window.held.length > 0);
    } finally {
        meanwhile();
        await page.evaluate(() => {
            delete Worker.prototype.postMessage;
            held.forEach(([worker, args]) => worker.postMessage(...args));
        });
    }
}

// Save all must be keldo-list's output on the same files, run where the page's paths name them;
// the zip of waves must hold each entry's wave under its file's path and its number.
async function expectSavedAcross(paths, cwd, stem, failed) {
    const native = spawnSync(keldoList, paths, { cwd });
    assert.equal(native.status, failed ? 1 : 0, native.stderr.toString());
    assert.deepEqual(await saved('#save-all', `${stem}-all.mml`), native.stdout);
    const names = expectedGroups(paths, cwd).flatMap(({ file, options }) =>
        options.map((option) => `${file.replace(/\.bin$/, '')}-${option.split(':')[0]}-wave.wav`));
    await savedZip('#save-all-waves', `${stem}-waves.zip`, (_, entries) => assert.deepEqual(entries, names));
    // Every instrument's .fui, named as its wave is, and each the file its entry saves alone.
    await savedZip('#save-all-fui', `${stem}-instruments.zip`, async (zip, entries) => {
        assert.deepEqual(entries, names.map((name) => name.replace(/-wave\.wav$/, '.fui')));
        for (const entry of entries) {
            await page.click(`#instrument-${entry.match(/-(\d+)\.fui$/)[1]}`);
            assert.deepEqual(execFileSync('unzip', ['-p', zip, entry]), await saved('#save-fui', path.basename(entry)), entry);
        }
    });
}

// Several files at once, on the page served or opened from the disk.
// The folder of the collection as each engine's driver can give it: in the folder box, and
// dropped (CDP drags a folder), in Chromium. The other drivers cannot set a folder in a file box
// (WebDriver BiDi in Firefox answers "Is directory"; WebKitWebDriver hands over the folder as one
// empty file): there the folder's files go to the file box, named without their folders, against
// keldo-list in a folder of links named so.
const FOLDER = ['b.bin', 'empty.bin', 'gone.bin', 'no-tag.bin', 'sub/c.bin', 'sub/deeper/a.bin'];
const FOLDER_LINES = { 'b.bin': '2 instruments', 'empty.bin': 'empty', 'gone.bin': /^could not be read \(\w+\)$/, 'no-tag.bin': 'no instrument',
                       'c.bin': '1 instrument, 1 doubtful', 'a.bin': '3 instruments, 1 doubtful' };
const FOLDER_WAYS = [
    { how: 'in the folder box', engines: ['chromium'], give: () => choose(path.join(temp, 'coll'), '#folder'), stem: 'coll' },
    { how: 'dropped', engines: ['chromium'], give: () => page.dropPaths([path.join(temp, 'coll')]), stem: 'coll' },
    { how: 'as its files in the file box', engines: ['firefox', 'webkit'], give: () => choose(FOLDER.map((name) => path.join(temp, 'coll', name))), stem: 'a-and-5-more' },
];

// Several files at once, on the page served or opened from the disk.
function collectionRows(engine) {
    for (const { how, engines, give, stem } of FOLDER_WAYS.filter(({ engines }) => engines.includes(engine))) {
        test(`a folder with subfolders, ${how}: every file by path, each with its line; Save all is keldo-list on them; one worker`, async () => {
            const byName = stem !== 'coll';
            const paths = byName ? FOLDER.map((name) => path.basename(name)).sort() : FOLDER.map((name) => `coll/${name}`);
            const cwd = byName ? path.join(temp, 'flat') : temp;
            if (byName) {
                fs.mkdirSync(cwd);
                FOLDER.forEach((name) => fs.symlinkSync(path.join(temp, 'coll', name), path.join(cwd, path.basename(name))));
            }
            try {
                fs.copyFileSync(path.join(temp, 'coll/sub/c.bin'), files.gone);
                await holdingTheRun(give, () => fs.rmSync(files.gone, { force: true }));
                const { status } = await finished();
                const folder = byName ? '' : 'coll/';
                assert.equal(status, `6 files: 6 instruments listed, 3 different, 2 doubtful. Could not be read: ${folder}gone.bin. Empty: ${folder}empty.bin. No instrument in 1 file.`);
                const shown = await groups();
                const expected = expectedGroups(paths, cwd);
                assert.deepEqual(shown.map(({ file, options }) => ({ file, options })), expected);
                for (const { file, line } of shown) {
                    const said = FOLDER_LINES[path.basename(file)];
                    assert.match(line.slice(`${file}: `.length), typeof said === 'string' ? new RegExp(`^${said}$`) : said, line);
                }
                assert.equal(await page.evaluate(() => window.workersStarted), 1);
                // The entry of a file deep in the folder: shown, saved, and its wave saved, under that file's name.
                const k = expected.find(({ file }) => file.endsWith('c.bin')).options[0].split(':')[0];
                const c = path.join(temp, 'coll/sub/c.bin');
                await page.click(`#instrument-${k}`);
                assert.equal(await page.$eval('#mml', (e) => e.textContent), nativeOutput(c));
                assert.deepEqual(await saved('#save', `c-${k}.mml`), execFileSync(keldo, [c]));
                assert.deepEqual(await saved('#save-cycle', `c-${k}-wave.wav`), cycleWav(definitions(nativeOutput(c)).WT0.values));
                await expectSavedAcross(paths, cwd, stem, true);
            } finally {
                fs.rmSync(path.join(temp, 'flat'), { recursive: true, force: true });
            }
        });
    }

    test('dropped: two files of one name, both listed; in Chromium, a file that cannot be read, named', async () => {
        await drop([path.join(temp, 'coll', 'b.bin'), path.join(temp, 'coll', 'b.bin')]);
        await finished();
        assert.deepEqual((await groups()).map(({ line }) => line), ['b.bin: 2 instruments', 'b.bin: 2 instruments']);
        if (engine !== 'chromium')  // only CDP drags a file from the disk
            return;
        await page.$eval('#status', (status) => (status.textContent = ''));
        await page.dropPaths([path.join(temp, 'missing.bin'), files.sample]);
        await finished();
        assert.deepEqual((await groups()).map(({ line }) => line), ['demo.bin: 1 instrument', 'missing.bin: could not be read (NotFoundError)']);
    });

    test('an empty folder dropped: the page says there is nothing to read', { skip: engine !== 'chromium' && 'only CDP drags a folder' }, async () => {
        const empty = path.join(temp, 'empty-folder');
        fs.mkdirSync(empty);
        try {
            await page.$eval('#status', (status) => (status.textContent = ''));
            await page.dropPaths([empty]);
            await page.waitForFunction(() => /./.test(document.querySelector('#status').textContent));
            assert.equal(await page.$eval('#status', (e) => e.textContent), 'There is no file to read in what was given: the folder is empty.');
        } finally {
            fs.rmSync(empty, { recursive: true });
        }
    });

    test('a zip listed as keldo-list lists it: a folder, a deflated and a stored member, a zip inside; a file compressed whole read as its bytes, and said so', async () => {
        await choose(files['game.zip']);
        assert.match((await finished()).status, /^3 files: 4 instruments listed/);
        assert.deepEqual((await groups()).map(({ file, options }) => ({ file, options })), expectedGroups(['game.zip'], temp));
        assert.deepEqual(await saved('#save-all', 'game-all.mml'), listOutput(files['game.zip']));
        await choose(files['bank.bin.gz']);
        await finished();
        assert.match((await groups())[0].line, /no instrument; it is a gzip archive, which the page reads as its bytes: it unpacks only zip archives$/);
    });

    const several = ['wave4-loop.bin', 'repeats.bin', 'no-tag.bin'];
    for (const [how, give] of [['chosen in the file box', () => choose(several.map((name) => files[name]))],
                               ['dropped', () => drop(several.map((name) => files[name]))]]) {
        test(`three files ${how}: all listed in the order of their names, numbered across them`, async () => {
            await give();
            const { status } = await finished();
            assert.equal(status, '3 files: 6 instruments listed, 4 different, 1 doubtful. No instrument in 1 file.');
            const ordered = [...several].sort();
            const shown = await groups();
            assert.deepEqual(shown.map(({ file, options }) => ({ file, options })), expectedGroups(ordered, temp));
            assert.deepEqual(shown.map(({ line }) => line), ['no-tag.bin: no instrument', 'repeats.bin: 5 instruments, 1 doubtful', 'wave4-loop.bin: 1 instrument']);
            await expectSavedAcross(ordered, temp, 'no-tag-and-2-more', false);
        });
    }
}

// Measured only when asked (KELDO_MEASURE=1), in Chromium: a folder of 1,000 files of 1 MiB, each
// with two tags, against one 1 GiB file with the same 2,000 tags, side by side, three times
// each; and the page's memory after a folder of 10,000 small files, every hundredth with an
// instrument, and a file dense in tags, read last, that fills the list.
function measureRows(engine) {
    const skip = (engine !== 'chromium' || !process.env.KELDO_MEASURE) && 'set KELDO_MEASURE=1 to measure, in Chromium';
    // From the files given to the page (not counting the driver's upload) to the run's summary.
    const timed = async (give) => {
        await page.evaluate(() => {
            const status = document.querySelector('#status');
            addEventListener('change', () => (window.givenAt = performance.now()), { capture: true, once: true });
            new MutationObserver((changes, observer) => {
                if (window.givenAt && /./.test(status.textContent) && !/^Reading/.test(status.textContent)) {
                    window.took = performance.now() - window.givenAt;
                    observer.disconnect();
                }
            }).observe(status, { childList: true, characterData: true, subtree: true });
            window.givenAt = window.took = null;
        });
        await give();
        await finished();
        return Math.round(await page.evaluate(() => window.took));
    };
    const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
    // The page as its users have it, without the test's watch on it.
    before(() => !skip && page.goto(`${origin}/`));
    after(() => !skip && load(`${origin}/`));
    test('a folder of 1,000 files of 1 MiB lists within twice the time of one 1 GiB file with the same tags', { skip }, async () => {
        const many = path.join(temp, 'many');
        fs.mkdirSync(many);
        const one = path.join(temp, 'one.bin');
        const tags = (base) => [[base + 1000, 'SNDF\x01'], [base + 700000, 'SNDF\x02']];
        try {
            for (let k = 0; k < 1000; ++k)
                writeSparse(path.join(many, `${String(k).padStart(4, '0')}.bin`), 2 ** 20, tags(0));
            writeSparse(one, 2 ** 30, Array.from({ length: 1000 }, (_, k) => tags(k * 2 ** 20)).flat());
            const times = { folder: [], one: [] };
            for (let round = 0; round < 3; ++round) {
                times.folder.push(await timed(() => choose(many, '#folder')));
                assert.equal(await page.$eval('#status', (e) => e.textContent), '1000 files: 2000 instruments listed, 2 different.');
                times.one.push(await timed(() => choose(one)));
                assert.match(await page.$eval('#status', (e) => e.textContent), /^one\.bin: the instrument block starts at byte 1004\. It holds 2000 instruments, 2 different\.$/);
            }
            console.log(`# 1,000 files of 1 MiB: ${times.folder.join(', ')} ms; one file of 1 GiB: ${times.one.join(', ')} ms`);
            assert.ok(median(times.folder) <= 2 * median(times.one), JSON.stringify(times));
        } finally {
            fs.rmSync(many, { recursive: true, force: true });
            fs.rmSync(one, { force: true });
        }
    });

    test('the page\'s memory after 10,000 small files with a file dense in tags among them', { skip }, async () => {
        const small = path.join(temp, 'small');
        fs.mkdirSync(small);
        try {
            // Every hundredth small file holds an instrument; the dense one, last, fills the list.
            for (let k = 0; k < 10000; ++k)
                fs.writeFileSync(path.join(small, `${String(k).padStart(5, '0')}.bin`), k % 100 === 0 ? instrument([[0, SQUARE]]) : Buffer.alloc(4096));
            fs.writeFileSync(path.join(small, 'dense.bin'), Buffer.from('SNDF'.repeat(2 ** 18)));
            const heap = () => page.cdp('Runtime.getHeapUsage');
            const before = await heap();
            const took = await timed(() => choose(small, '#folder'));
            await page.evaluate(() => new Promise((resolve) => setTimeout(resolve, 1000)));
            const after = await heap();
            const nodes = await page.evaluate(() => document.getElementsByTagName('*').length);
            console.log(`# 10,000 files: ${took} ms; ${await page.$eval('#status', (e) => e.textContent)}; ` +
                        `heap ${(before.usedSize / 2 ** 20).toFixed(1)} MiB before, ${(after.usedSize / 2 ** 20).toFixed(1)} MiB after; ${nodes} elements`);
            assert.match(await page.$eval('#status', (e) => e.textContent), /^10001 files: 262244 instruments listed/);
            assert.ok(after.usedSize < 32 * 2 ** 20, `the page's heap at ${after.usedSize} bytes`);
        } finally {
            fs.rmSync(small, { recursive: true, force: true });
        }
    });
}

// The rows that need the served page: copy, a dense file, a changing file, failing workers,
// Play, and last, with the server gone, a reload, a cancel and a new run.
function servedRows(engine) {
    test('copy and save give the output byte for byte', async () => {
        await choose(files.sample);
        const { text } = await finished();
        await page.click('#copy');
        await page.waitForFunction(() => document.querySelector('#message').textContent === 'Copied the output.');
        assert.match(await page.$eval('#status', (e) => e.textContent), /^demo\.bin: the instrument block starts/, 'the summary stays');
        assert.equal(await page.evaluate(() => window.copied), text);
        assert.deepEqual(await saved('#save', 'demo-0.mml'), execFileSync(keldo, [files.sample]));
        // The wave's values as wave editors take them pasted, as the table holds them.
        const wave = definitions(text).WT0.values;
        for (const [format, written] of [['decimal', wave.join(' ')], ['hex', wave.map((v) => v.toString(16).toUpperCase().padStart(2, '0')).join(' ')]]) {
            await page.$eval('#wave-format', (select, value) => {
                select.value = value;
                window.copied = null;
            }, format);
            await page.click('#copy-wave');
            await page.waitForFunction(() => window.copied !== null);
            assert.equal(await page.evaluate(() => window.copied), written);
        }
    });

    test('a million tags listed whole, in memory stated; the keys and a row near the end, at once; Save all is keldo-list\'s output',
         { skip: engine !== 'chromium' && 'a million entries are listed in Chromium, where the heap can be measured' }, async () => {
        const started = Date.now();
        await choose(files['million.bin']);
        assert.equal((await finished()).status, 'million.bin: the instrument block starts at byte 4. It holds 1000000 instruments, 1 different, 1000000 doubtful.');
        const heap = await page.cdp('Runtime.getHeapUsage');
        const mib = (heap.usedSize + heap.backingStorageSize) / 2 ** 20;
        console.log(`# a million instruments: listed in ${((Date.now() - started) / 1000).toFixed(1)} s; the page's heap ${mib.toFixed(1)} MiB`);
        assert.ok(mib < 64, `the page's heap at ${mib} MiB`);
        // Each entry: keldo's text for a tag followed by zeros, at its own offset.
        const text = (k) => nativeOutput(files['zero-block.bin']).replace('; px = 4\n', `; px = ${112 * k + 4}\n`);
        await page.focus('#instruments');
        for (const [key, k] of [['End', 999999], ['ArrowUp', 999998], ['Home', 0], ['End', 999999]]) {
            const pressed = Date.now();
            await page.press(key);
            assert.equal(await shown(), text(k), key);
            assert.ok(Date.now() - pressed < 1000, `${key} took ${Date.now() - pressed} ms`);
        }
        await page.click('#instrument-999990');
        assert.equal(await shown(), text(999990));
        assert.equal(await saved('#save-all', 'million-all.mml', true), createHash('sha256').update(listOutput(files['million.bin'])).digest('hex'));
    });

    test('doubtful entries: marked, their checks said with the one shown, hidden when asked; a text naming the tag, doubtful throughout', async () => {
        await choose(files['notes.txt']);
        assert.match((await finished()).status, /^notes\.txt: the instrument block starts at byte 4\. It holds 20 instruments, \d+ different, 20 doubtful\.$/);
        assert.match(await page.$eval('#doubts', (e) => e.textContent), /^Doubtful: .*more than three quarters of its values are text/);
        await choose(files['repeats.bin']);
        await finished();
        const all = await listed();
        for (const [hidden, shownNow] of [[true, all.filter((_, k) => k !== 3)], [false, all]]) {
            await page.click('#hide-doubtful');
            assert.deepEqual([await page.$eval('#hide-doubtful', (box) => box.checked), await listed()], [hidden, shownNow]);
        }
    });

    // Once the file's time has changed, Chromium and WebKit refuse to read on, each with an error
    // of its own; Firefox reads its bytes, which are the same, on to the end. The time changes
    // once the first 32 MiB slice is read: a file with tags in it keeps those listed and says that
    // the rest could not be read; one without is reported as unreadable.
    const refused = { chromium: 'NotReadableError', webkit: 'NotFoundError' }[engine];
    for (const [name, pxs, whole, cut] of [
        ['changing.bin', ['14', '4097', '41943044', '67112960'], 'It holds 4 instruments, 1 different, 4 doubtful.',
         `The rest of it could not be read (${refused}): the 2 found before are listed.`],
        ['changing-late.bin', ['41943044'], 'It holds no other instrument; it is doubtful.', null],
    ]) {
        test(`a file that changes after its first slice is read (${name}): the browser that refuses the read makes the page say so`, async () => {
            touching = files[name];
            await load(`${origin}/touching-worker/`);
            await choose(files[name]);
            const { status, text } = await finished();
            if (!refused) {
                assert.equal(status, `${name}: the instrument block starts at byte ${pxs[0]}. ${whole}`);
                assert.deepEqual(await listed(), pxs);
            } else if (cut) {
                assert.equal(status, `${name}: the instrument block starts at byte ${pxs[0]}. ${cut}`);
                assert.deepEqual(await listed(), pxs.slice(0, 2));
            } else {
                assert.equal(status, `The browser could not read ${name} (${refused}), so keldo reports it as unreadable.`);
                assert.deepEqual(await listed(), []);
            }
            assert.equal(text, nativeOutput(refused && !cut ? path.join(temp, 'no-such-file') : files[name]));
            await expectPicturesOf(text);
        });
    }

    // However its worker fails, a run ends with a message and shows no instrument.
    for (const [folder, message] of [['missing-worker', /^The page could not load its own files \(worker\.js: 404/],
                                     ['dead-worker', /^keldo could not run on demo\.bin: .*no worker here/],
                                     ['throwing-worker', /^keldo could not run on demo\.bin: the worker broke$/],
                                     ['dying-worker', /^keldo could not run on repeats\.bin: .*the worker died$/]]) {
        test(`a page whose worker fails (${folder}) ends the run with a message`, async () => {
            const logged = consoleErrors?.length;
            await load(`${origin}/${folder}/`);
            await choose([files.sample, files['repeats.bin']]);
            const { status, text } = await finished();
            assert.match(status, message);
            assert.equal(text, '');
            assert.deepEqual(await page.evaluate(() => window.pageErrors), [], 'no uncaught error');
            // The console may log the missing file's 404, and nothing else.
            assert.deepEqual(consoleErrors?.splice(logged).filter((line) => !/\b404\b/.test(line)) ?? [], []);
        });
    }

    keyRows(engine, 'served');

    test('no accessibility violation that axe-core finds: before a file is chosen, while one is read, with an instrument shown', async () => {
        await load(`${origin}/`);
        await expectAccessible('before a file is chosen');
        await choose(files['several.bin']);
        await page.waitForFunction(() => document.querySelector('#instruments [role="option"]') && !document.querySelector('#progress').hidden);
        await expectAccessible('while a file is read');
        await page.click('#cancel');
        await choose(files.sample);
        await finished();
        await expectAccessible('with an instrument shown');
    });

    // Firefox keeps its context suspended where the machine has no sound device, as here.
    test('Play sounds the shown instrument: its audio context runs', async () => {
        await load(`${origin}/`);  // the page itself again, after those with failing workers
        await choose(files.sample);
        await finished();
        await page.click('#play');
        const states = engine === 'firefox' ? ['running', 'suspended'] : ['running'];
        await page.waitForFunction((wanted) => wanted.includes(window.audioContexts[0]?.state), states);
        await page.click('#play');
        assert.deepEqual(await page.evaluate(() => window.pageErrors), []);
    });

    test('three files, cancelled in the second: what was found stays listed, and the page says where it stopped', async () => {
        await choose(['repeats.bin', 'several.bin', 'wave4-loop.bin'].map((name) => files[name]));
        await page.waitForFunction((options) => document.querySelectorAll(options).length === 9 && !document.querySelector('#progress').hidden, OPTIONS);
        // The bar counts the first file's bytes and then the second's, read a slice at a time.
        const before = fs.statSync(files['repeats.bin']).size;
        const value = await page.$eval('#progress', (progress) => progress.value);
        assert.ok(value > before && (value - before) % 2 ** 25 === 0, `the bar at ${value}`);
        assert.match(await page.$eval('#status', (e) => e.textContent), /^Reading several\.bin: 1 of 3 files done, [\d.]+ (MiB|GiB) of 5\.00 GiB$/);
        await page.click('#cancel');
        assert.equal(await page.$eval('#status', (e) => e.textContent), 'Cancelled reading several.bin, file 2 of 3: the 9 instruments found before are listed.');
        assert.deepEqual((await groups()).map(({ line, options }) => [line, options.length]),
                         [['repeats.bin: 5 instruments, 1 doubtful', 5], ['several.bin: cancelled while it was read', 4], ['wave4-loop.bin: not read: cancelled', 0]]);
        assert.deepEqual(await page.evaluate(() => ['#progress', '#cancel'].filter((id) => document.querySelector(id).hidden)), ['#progress', '#cancel']);
    });

    test('an app: its manifest and icons, kept by the service worker; in Chromium, no installability error', async () => {
        const manifest = await page.evaluate(async () => (await fetch(document.querySelector('link[rel="manifest"]').href)).json());
        // Files opened with the app go to the page itself, which takes them through launchQueue.
        assert.equal(new URL(manifest.file_handlers[0].action, `${origin}/manifest.webmanifest`).href, `${origin}/`);
        for (const { src, sizes, type } of manifest.icons.filter(({ type }) => type === 'image/png')) {
            const png = fs.readFileSync(path.join(site, src));
            assert.equal(`${png.readUInt32BE(16)}x${png.readUInt32BE(20)}`, sizes, src);
        }
        assert.deepEqual(manifest.icons.map(({ sizes, purpose }) => `${sizes} ${purpose}`), ['192x192 any', '512x512 any', '512x512 maskable', 'any any']);
        const kept = await page.evaluate((names) => Promise.all(names.map((name) => caches.match(name).then(Boolean))),
                                         ['manifest.webmanifest', ...manifest.icons.map(({ src }) => src)]);
        assert.deepEqual(kept, manifest.icons.map(() => true).concat(true));
        if (engine === 'chromium') {
            assert.deepEqual((await page.cdp('Page.getAppManifest')).errors, []);
            assert.deepEqual((await page.cdp('Page.getInstallabilityErrors')).installabilityErrors, []);
        }
    });

    test('files the system opens keldo with, given through launchQueue by a stand-in: listed as if dropped', { skip: engine === 'webkit' && 'WebDriver runs no script before the page\'s own' }, async () => {
        const standIn = await page.beforeLoad(() => Object.defineProperty(window, 'launchQueue', {
            configurable: true, value: { setConsumer: (consumer) => (window.launched = consumer) },
        }));
        try {
            await load(`${origin}/`);
            await page.$eval('#status', (status) => (status.textContent = ''));
            const launched = ['wave4-loop.bin', 'no-tag.bin'].map((name) => [name, [...fs.readFileSync(files[name])]]);
            await page.evaluate((given) => window.launched({ files: given.map(([name, bytes]) => ({
                kind: 'file', name, getFile: async () => new File([new Uint8Array(bytes)], name) })) }), launched);
            assert.equal((await finished()).status, '2 files: 1 instrument listed, 1 different. No instrument in 1 file.');
            assert.deepEqual((await groups()).map(({ line }) => line), ['no-tag.bin: no instrument', 'wave4-loop.bin: 1 instrument']);
        } finally {
            await page.forgetBeforeLoad(standIn);
            await load(`${origin}/`);
        }
    });

    // The server sends no-store, so once it is gone only the page's service worker can answer,
    // for the page, its module and its worker's script. The first four tags lie in the first
    // slice read; the fifth, past 4 GiB, is not reached before the cancel.
    test('with the server gone, the page reloads; a long scan shows its progress and cancels, keeping what it found; the page runs again', async () => {
        // A visit while the server answers 404 for the page's files: the copies kept stay good.
        failing = true;
        await load(`${origin}/`);
        server.closeAllConnections();
        await new Promise((resolve) => server.close(resolve));
        await load(`${origin}/`);
        assert.deepEqual(await page.evaluate(() => Promise.all(['icon.svg', 'manifest.webmanifest', 'worker.js', 'keldo-list.wasm'].map(
            async (name) => (await fetch(name)).ok))), [true, true, true, true], 'the kept copies answer');
        await choose(files['several.bin']);
        await page.waitForFunction(() => !document.querySelector('#progress').hidden && document.querySelector('#progress').value > 0);
        const read = await page.$eval('#progress', (progress) => progress.value);
        await page.waitForFunction((before) => document.querySelector('#progress').value > before, read);
        // The bar's share of its length is the share of the file read, as the status line says it.
        const bar = await page.evaluate(() => {
            const { value, max } = document.querySelector('#progress');
            return { value, max, status: document.querySelector('#status').textContent };
        });
        const [, amount, unit] = bar.status.match(/^Reading several\.bin: ([\d.]+) (MiB|GiB) of 5\.00 GiB$/);
        const digit = unit === 'GiB' ? 0.01 * 2 ** 30 : 0.1 * 2 ** 20;  // the status line's last digit
        assert.equal(bar.max, 5 * 2 ** 30);
        assert.ok(Math.abs(bar.value - amount * (unit === 'GiB' ? 2 ** 30 : 2 ** 20)) <= digit / 2, `the bar at ${bar.value} of ${bar.max}: ${bar.status}`);
        await page.waitForFunction((options) => document.querySelectorAll(options).length === 4, OPTIONS);
        // Each entry is listed as soon as its tag is found: the fourth while the read is still far
        // from the fifth, past 4 GiB, not when that one is found.
        const fourth = (await page.evaluate(() => window.listedAt)).find(({ px }) => px === '70004');
        // A slice's progress is said once it is read, before its tags are listed.
        assert.ok(fourth.read >= 32 * 2 ** 20 && fourth.read < 2 ** 32, `entry 3 listed when ${fourth.read} bytes were read`);
        await page.click('#cancel');
        assert.equal(await page.$eval('#status', (e) => e.textContent), 'Cancelled reading several.bin: the 4 instruments found before are listed.');
        assert.deepEqual(await page.evaluate(() => ['#progress', '#cancel'].filter((id) => document.querySelector(id).hidden)),
                         ['#progress', '#cancel']);
        assert.deepEqual(await listed(), ['14', '4097', '4204', '70004']);
        await choose(files.sample);
        assert.equal((await finished()).text, nativeOutput(files.sample));
    });

    test('no request left the page origin, and nothing went wrong in the console', async (t) => {
        assert.deepEqual(await page.evaluate(() => window.pageErrors), []);
        if (consoleErrors)
            assert.deepEqual(consoleErrors, []);
        if (outsideRequests)
            assert.deepEqual(outsideRequests, []);
        if (!consoleErrors || !outsideRequests)
            t.diagnostic(`${engine} shows no console and no requests to WebDriver: only the page's own errors were checked`);
    });
}

for (const engine of engines) {
    describe(engine, () => {
        let stop;
        before(async () => {
            failing = false;
            server = serveSite();
            origin = `http://127.0.0.1:${await listen(server)}`;
            outsideRequests = [];
            consoleErrors = [];
            stop = await ENGINES[engine]();
            await load(`${origin}/`);
            await page.evaluate(() => navigator.serviceWorker.ready.then(() => true));
        });
        after(async () => {
            await stop?.();
            server.closeAllConnections();
            server.close();
        });
        // The rows that measure a note's pitch expect the note's own: only the pitch row chooses a
        // mode of its own, and goes back to off.
        const pitchOff = () => pick('#pitch-mode', 'off');
        describe('served', () => {
            before(pitchOff);
            tableRows(engine, 'served');
            collectionRows(engine);
            measureRows(engine);
            servedRows(engine);
        });
        describe('from the disk, in one file', () => {
            before(async () => {
                await load(oneFileUrl);
                await pitchOff();
            });
            tableRows(engine, 'disk');
            collectionRows(engine);
            keyRows(engine, 'disk');
            test('is no app: it links no manifest', async () => {
                assert.equal(await page.evaluate(() => document.querySelector('link[rel="manifest"]')), null);
            });
        });
    });
}
