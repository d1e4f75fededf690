// The page in headless Chromium, with files chosen through #file as a user chooses them: the text
// must be the native tool's output, each picture must have one entry per value and its loop mark
// where the text puts "|", and no request may leave the page's origin. Also: a file that changes
// while it is read, copy and save, and progress, cancel and a new run after the server is gone.
//   node tests/page_test.mjs SITE_FOLDER NATIVE_KELDO      (web/build.sh makes build-web/site)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

const puppeteer = createRequire(new URL('../web/package.json', import.meta.url))('puppeteer-core');
const [site, keldo] = process.argv.slice(2).map((arg) => path.resolve(arg));
const sample = new URL('../samples/demo.bin', import.meta.url).pathname;
const RUN_LIMIT_MS = 60_000;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
                '.wasm': 'application/wasm', '.svg': 'image/svg+xml' };

// The site, never cached by the browser: after the server is gone, only the page's own service
// worker can answer.
function serveSite() {
    return http.createServer((request, response) => {
        const file = path.join(site, decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/\/$/, '/index.html'));
        fs.readFile(file, (error, body) => {
            response.writeHead(error ? 404 : 200, { 'Content-Type': TYPES[path.extname(file)] ?? 'text/plain', 'Cache-Control': 'no-store' });
            response.end(error ? '' : body);
        });
    });
}

const listen = (server) => new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server.address().port)));

const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-page-'));
const files = {};
const outsideRequests = [];
const pageErrors = [];
let server, browser, page, origin;

function makeFile(name, bytes) {
    files[name] = path.join(temp, name);
    fs.writeFileSync(files[name], bytes);
}

function makeSparseFile(name, size, offset, bytes) {
    files[name] = path.join(temp, name);
    const fd = fs.openSync(files[name], 'w');
    fs.writeSync(fd, bytes, 0, bytes.length, offset);
    fs.ftruncateSync(fd, size);
    fs.closeSync(fd);
}

before(async () => {
    files.sample = sample;
    makeFile('empty.bin', Buffer.alloc(0));
    makeFile('no-tag.bin', Buffer.concat([Buffer.alloc(5000, 'x'), Buffer.from('SND')]));
    // The block stops inside the volume envelope's loop index: what is missing reads as zeros.
    const block = Buffer.alloc(70);
    block.set([0x80, 0xff, 0x00, 0x7f], 0);
    block.set([0x0f, 0x0e, 0x0d, 0x0c, 0x0b], 36);
    block[68] = 5;
    makeFile('cut-short.bin', Buffer.concat([Buffer.alloc(10, 'x'), Buffer.from('SNDF'), block]));
    makeSparseFile('past-4-gib.bin', 5 * 2 ** 30, 2 ** 32 + 4093, Buffer.from('SNDF\x11\x22\x33', 'latin1'));
    makeSparseFile('changing.bin', 5 * 2 ** 30, 5 * 2 ** 30 - 4, Buffer.from('SNDF'));

    server = serveSite();
    origin = `http://127.0.0.1:${await listen(server)}`;
    browser = await puppeteer.launch({
        executablePath: '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'],
    });
    await browser.defaultBrowserContext().overridePermissions(origin, ['clipboard-read', 'clipboard-sanitized-write']);
    // Every request of the page, of its workers and of its service worker.
    const record = (url) => {
        if (!url.startsWith(`${origin}/`) && !url.startsWith('blob:'))
            outsideRequests.push(url);
    };
    browser.on('targetcreated', async (target) => {
        if (target.type() !== 'service_worker')
            return;
        const session = await target.createCDPSession();
        session.on('Network.requestWillBeSent', ({ request }) => record(request.url));
        await session.send('Network.enable');
    });
    page = await browser.newPage();
    await page.emulateFocusedPage(true);  // the clipboard is only for a page that has the focus
    page.on('request', (request) => record(request.url()));
    page.on('pageerror', (error) => pageErrors.push(error.message));
    page.on('console', (message) => message.type() === 'error' && pageErrors.push(message.text()));
    await page.goto(`${origin}/`);
    await page.evaluate(() => navigator.serviceWorker.ready);
});

after(async () => {
    await browser?.close();
    server?.closeAllConnections();
    server?.close();
    fs.rmSync(temp, { recursive: true, force: true });
});

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

async function choose(file) {
    await page.$eval('#status', (status) => (status.textContent = ''));
    await page.$eval('#file', (input) => (input.value = ''));  // so that the same file is a new choice
    await (await page.$('#file')).uploadFile(file);
}

// Drops a file made in the page with the bytes of `file`, as a file dragged from elsewhere is.
async function drop(file) {
    await page.$eval('#status', (status) => (status.textContent = ''));
    await page.evaluate((name, bytes) => {
        const dropped = new DataTransfer();
        dropped.items.add(new File([new Uint8Array(bytes)], name));
        document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));
    }, path.basename(file), [...fs.readFileSync(file)]);
}

async function finished() {
    await page.waitForFunction(() => /./.test(document.querySelector('#status').textContent) &&
                                     !/^Reading/.test(document.querySelector('#status').textContent), { timeout: RUN_LIMIT_MS });
    return { status: await page.$eval('#status', (e) => e.textContent), text: await page.$eval('#mml', (e) => e.textContent) };
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
        const axis = svg.querySelector('.axis')?.getBBox().y;
        const entries = [...svg.querySelectorAll('.entry')].map((entry) => {
            const { x, y, width, height } = entry.getBBox();
            const reach = entry.tagName === 'line' ? -y : y < axis ? height : -height;
            return { x, width, reach };
        });
        return { entries, loops: [...svg.querySelectorAll('.loop')].map((mark) => mark.getBBox().x), height: svg.viewBox.baseVal.height };
    });
}

// The pictures say what the text says: one entry per value, each reaching as far as its value
// says on one scale (bars from zero), and the loop mark between the entry that "|" follows and
// the next.
async function expectPicturesOf(text) {
    const defs = definitions(text);
    for (const [id, name] of [['wave', 'WT0'], ['volume', 'v0'], ['pitch', 'EP0']]) {
        const { entries, loops, height } = await drawn(id);
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
        // A wave of 4-bit values (0 to 15) fills the picture as an 8-bit one (0 to 255) does.
        if (id === 'wave' && high !== low)
            assert.ok(scale * (values[high] <= 15 ? 15 : 255) > 0.8 * height, `wave: its full range fills the picture`);
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

const CASES = [
    { name: 'the sample', file: 'sample', status: /the instrument block starts at byte 4098/ },
    { name: 'a file without the tag', file: 'no-tag.bin', status: /holds no SNDF tag/ },
    { name: 'an empty file', file: 'empty.bin', status: /is empty/ },
    { name: 'a block that runs past the end of the file, dropped on the page', file: 'cut-short.bin', status: /starts at byte 14/, drop: true },
    { name: 'a 5 GiB sparse file with the tag past 4 GiB', file: 'past-4-gib.bin', status: /starts at byte 4294971393/ },
];

for (const c of CASES) {
    test(`${c.name}: the native output, and pictures that match it`, async () => {
        const started = Date.now();
        await (c.drop ? drop : choose)(files[c.file]);
        const { status, text } = await finished();
        assert.match(status, c.status);
        assert.equal(text, nativeOutput(files[c.file]));
        await expectPicturesOf(text);
        if (c.file === 'past-4-gib.bin')
            console.log(`# ${c.name}: ${((Date.now() - started) / 1000).toFixed(1)} s`);
    });
}

test('a file that changes while it is read: the browser cannot read it, and keldo says so', async () => {
    await choose(files['changing.bin']);
    await page.waitForFunction(() => document.querySelector('#progress').value > 0);  // its first slice is read
    fs.utimesSync(files['changing.bin'], new Date(), new Date(2001, 0, 1));
    const { status, text } = await finished();
    assert.match(status, /could not read changing\.bin \(NotReadableError\)/);
    assert.equal(text, nativeOutput(path.join(temp, 'no-such-file')));
    await expectPicturesOf(text);
});

test('copy and save give the output byte for byte', async () => {
    await choose(files.sample);
    const { text } = await finished();
    await page.click('#copy');
    await page.waitForFunction(() => document.querySelector('#status').textContent === 'Copied the output.');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), text);
    const downloads = fs.mkdtempSync(path.join(temp, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
    const done = new Promise((resolve) => session.on('Browser.downloadProgress', (e) => e.state === 'completed' && resolve()));
    await page.click('#save');
    await done;
    assert.deepEqual(fs.readFileSync(path.join(downloads, 'demo.mml')), execFileSync(keldo, [files.sample]));
});

// The server sends no-store, so once it is gone only the page's service worker can answer: the
// fresh worker that a cancel starts must come from there.
test('with the server gone, a long scan shows its progress and cancels, and the page runs again', async () => {
    server.closeAllConnections();
    await new Promise((resolve) => server.close(resolve));
    await choose(files['past-4-gib.bin']);
    await page.waitForSelector('#progress:not([hidden])');
    await page.waitForFunction(() => document.querySelector('#progress').value > 0);
    await page.click('#cancel');
    assert.match(await page.$eval('#status', (e) => e.textContent), /^Cancelled/);
    await choose(files.sample);
    assert.equal((await finished()).text, nativeOutput(files.sample));
});

test('no request left the page origin, and nothing went wrong in the console', () => {
    assert.deepEqual(outsideRequests, []);
    assert.deepEqual(pageErrors, []);
});
