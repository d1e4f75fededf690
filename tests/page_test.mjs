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

// The tag and a block of zeros but for `patches` ([block offset, byte values]).
function instrument(patches) {
    const block = Buffer.alloc(512);
    for (const [offset, values] of patches)
        block.set(values, offset);
    return Buffer.concat([Buffer.from('SNDF'), block]);
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
    // Instruments to hear: a 4-bit triangle whose volume loops after entry 2 (over an entry of 0),
    // a 5-bit saw whose loop mark follows its last entry, and a wave table of one value.
    const triangle = [...Array(16).keys(), ...[...Array(16).keys()].reverse()];
    makeFile('wave4-loop.bin', instrument([[0, triangle], [36, [15, 12, 9, 0, 6, 3]], [68, [6, 2]], [74, [1, 0x81]], [106, [2, 0]]]));
    makeFile('wave5-hold.bin', instrument([[0, [...Array(32).keys()]], [36, [31, 0, 16, 20]], [68, [4, 3]]]));
    makeFile('flat.bin', instrument([[0, Array(32).fill(9)], [36, [15]], [68, [1, 0xff]]]));
    // Tags at 10, across the first 4096-byte edge, inside the block of that one, further on, and
    // past 4 GiB across an edge; each block with bytes of its own, the fourth with envelopes.
    makeSparseFile('several.bin', 5 * 2 ** 30, [
        [10, 'SNDF\x01\x02'], [4093, 'SNDF\x21\x22'], [4200, 'SNDF\x31\x32'],
        [70000, 'SNDF\x0f\x0e'], [70004 + 36, '\x0f\x0c\x09\x06'], [70004 + 68, '\x04\x01'],
        [70004 + 74, '\x01\x81\x7f'], [70004 + 106, '\x03\x00'],
        [2 ** 32 + 4093, 'SNDF\x11\x22\x33'],
    ]);
    makeSparseFile('changing.bin', 5 * 2 ** 30, [[5 * 2 ** 30 - 4, 'SNDF']]);
    makeSparseFile('dense.bin', 64 * 2 ** 20, [[0, 'SNDF'.repeat(16 * 2 ** 20)]]);

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
    // The page's audio contexts, so that a test can see one run.
    await page.evaluateOnNewDocument(() => {
        const contexts = (window.audioContexts = []);
        window.AudioContext = class extends window.AudioContext {
            constructor(...args) {
                super(...args);
                contexts.push(this);
            }
        };
    });
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

// Entry k of Save all, as the manual page's collecting example makes it with sed from the
// command's output: its definitions numbered k, and without its banner after the first.
const numbered = (output, k) => execFileSync('sed', ['-E', `${k > 0 ? '1d;' : ''}s/^@(WT|v|EP)0 /@\\1${k} /`], { input: output });

const listed = () => page.$$eval('#instruments > *', (items) => items.map((item) => item.dataset.px));
const shown = () => page.$eval('#mml', (e) => e.textContent);

// The bytes of the file that pressing `button` saves, as `name`.
async function saved(button, name) {
    const downloads = fs.mkdtempSync(path.join(temp, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
    const done = new Promise((resolve) => session.on('Browser.downloadProgress', (e) => e.state === 'completed' && resolve()));
    await page.click(button);
    await done;
    await session.detach();
    return fs.readFileSync(path.join(downloads, name));
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
        // A wave of 4-bit values (0 to 15), or of 5 or 6 bits, fills the picture as an 8-bit one does.
        if (id === 'wave' && high !== low)
            assert.ok(scale * rangeOf(values) > 0.8 * height, `wave: its full range fills the picture`);
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
// all, those outputs numbered from 0 in one source.
async function expectEveryEntry(name, pxs) {
    assert.deepEqual(await listed(), pxs.map(String));
    const outputs = pxs.map((_, k) => entryOutput(name, pxs, k));
    const last = pxs.length - 1;
    for (const k of [...pxs.keys()].reverse()) {
        const started = Date.now();
        await page.click(`#instruments > :nth-child(${k + 1})`);
        assert.equal(await shown(), outputs[k], `entry ${k}, clicked`);
        if (k === last)
            console.log(`# entry ${k}, at byte ${pxs[k]}, shown ${Date.now() - started} ms after the click`);
        await expectPicturesOf(outputs[k]);
        assert.equal(await page.$eval('[aria-selected="true"]', (e) => e.dataset.px), String(pxs[k]));
    }
    await page.focus('#instruments');
    for (const [key, k] of [['End', last], ['ArrowDown', last], ['Home', 0], ['ArrowUp', 0], ['ArrowDown', 1],
                            ['ArrowDown', 2], ['ArrowUp', 1], ['Enter', 1]]) {
        await page.keyboard.press(key);
        assert.equal(await shown(), outputs[k], `${key} shows entry ${k}`);
    }
    assert.deepEqual(await saved('#save-all', name.replace('.bin', '.mml')), Buffer.concat(outputs.map(numbered)));
}

// The chips' table widths: a table's range is the smallest that holds its largest value.
const rangeOf = (values) => [15, 31, 63, 255].find((range) => Math.max(0, ...values) <= range);

// The loudness of frame j (1/60 s) as the page says it plays: the volume entries from 0, then the
// entries after "|" over and over, or the last entry held; full volume without entries.
function loudness({ values, loop }, j) {
    if (values.length === 0)
        return 1;
    const looped = values.slice(loop + 1);
    const entry = j < values.length ? values[j]
                : loop >= 0 && looped.length > 0 ? looped[(j - values.length) % looped.length] : values.at(-1);
    return entry / rangeOf(values);
}

const RATE = 44100;
const FRAME = RATE / 60;

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

// The saved note of the instrument in `text` at `frequency`: one second of 16-bit mono; each
// frame's peak as its volume entry gives it, on one scale whose full range peaks between -3 and
// -1 dB; silence where the entry is 0 or the wave flat; no values between the table's (no
// smoothing); and, over the first audible frames, one cycle every 1/frequency s.
function expectNote(wav, text, frequency) {
    assert.deepEqual(wav.subarray(0, 44), wavHeader(RATE), 'the WAV header');
    assert.equal(wav.length, 44 + 2 * RATE);
    const samples = Array.from({ length: RATE }, (_, i) => wav.readInt16LE(44 + 2 * i) / 32767);
    const { WT0: wave, v0: volume } = definitions(text);
    const middle = rangeOf(wave.values) / 2;
    const flat = wave.values.every((value) => value === wave.values[0]);
    const extent = Math.max(...wave.values.map((value) => Math.abs(value - middle))) / middle;
    const frames = Array.from({ length: 60 }, (_, j) => samples.slice(j * FRAME, (j + 1) * FRAME));
    const levels = frames.map((_, j) => (flat ? 0 : extent * loudness(volume, j)));
    const peaks = frames.map((frame) => Math.max(...frame.map(Math.abs)));
    const loudest = levels.indexOf(Math.max(...levels));
    const fullScale = peaks[loudest] / (levels[loudest] || 1);
    if (!flat)
        assert.ok(fullScale >= 10 ** (-3 / 20) && fullScale <= 10 ** (-1 / 20), `a full-range wave peaks at ${fullScale} of full scale`);
    const steps = new Set(wave.values).size;
    frames.forEach((frame, j) => {
        if (levels[j] === 0)
            return assert.ok(frame.every((sample) => sample === 0), `frame ${j} is silent`);
        assert.ok(Math.abs(peaks[j] - fullScale * levels[j]) <= 0.02, `frame ${j} peaks at ${peaks[j]}, not ${fullScale * levels[j]}`);
        assert.ok(new Set(frame).size <= steps, `frame ${j}: ${new Set(frame).size} values from a table of ${steps}`);
    });
    if (flat)
        return;
    const silentFrom = levels.indexOf(0);
    const audible = samples.slice(0, FRAME * (silentFrom < 0 ? 60 : silentFrom));
    const rising = audible.flatMap((sample, i) => (i > 0 && audible[i - 1] < 0 && sample >= 0 ? [i] : []));
    const period = (rising.at(-1) - rising[0]) / (rising.length - 1);
    assert.ok(Math.abs(period / (RATE / frequency) - 1) < 0.005, `one cycle every ${period} samples at ${frequency} Hz`);
}

const NOTE_HZ = { A4: 440, C6: 1046.502 };

const CASES = [
    { name: 'the sample', file: 'sample', status: /the instrument block starts at byte 4098/, note: 'A4' },
    { name: 'a file without the tag', file: 'no-tag.bin', status: /holds no SNDF tag/ },
    { name: 'an empty file', file: 'empty.bin', status: /is empty/ },
    { name: 'a block that runs past the end of the file, dropped on the page', file: 'cut-short.bin', status: /starts at byte 14/, drop: true, note: 'A4' },
    { name: 'a 4-bit wave, its volume looping over an entry of 0', file: 'wave4-loop.bin', status: /starts at byte 4\./, note: 'A4' },
    { name: 'a 5-bit wave at C6, its volume holding its last entry', file: 'wave5-hold.bin', status: /starts at byte 4\./, note: 'C6' },
    { name: 'a wave table of one value', file: 'flat.bin', status: /starts at byte 4\./, note: 'A4' },
    { name: 'a 5 GiB sparse file with five tags, the last past 4 GiB', file: 'several.bin', status: /starts at byte 14\. It holds 5 instruments\.$/,
      pxs: [14, 4097, 4204, 70004, 2 ** 32 + 4097] },
];

for (const c of CASES) {
    test(`${c.name}: the native output, and pictures that match it${c.pxs ? '; every entry and Save all' : ''}`, async () => {
        const started = Date.now();
        await (c.drop ? drop : choose)(files[c.file]);
        const { status, text } = await finished();
        assert.match(status, c.status);
        assert.equal(text, nativeOutput(files[c.file]));
        await expectPicturesOf(text);
        if (c.note) {
            await page.select('#note', c.note);
            expectNote(await saved('#save-wav', path.basename(files[c.file]).replace(/\.bin$/, '.wav')), text, NOTE_HZ[c.note]);
        }
        if (c.pxs) {
            console.log(`# ${c.name}: listed in ${((Date.now() - started) / 1000).toFixed(1)} s`);
            await expectEveryEntry(c.file, c.pxs);
        }
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
    assert.deepEqual(await saved('#save', 'demo.mml'), execFileSync(keldo, [files.sample]));
});

test('a file dense in tags: 4096 listed, the page says there are more, and Save all saves those', async () => {
    await choose(files['dense.bin']);
    assert.match((await finished()).status, /more than 4096 instruments: the first 4096 are listed\.$/);
    const pxs = (await listed()).map(Number);
    assert.deepEqual(pxs, Array.from({ length: 4096 }, (_, k) => 4 * k + 4));
    // The banner, then one part for each entry, from its offset line on.
    const parts = (await saved('#save-all', 'dense.mml')).toString('latin1').split(/^(?=; px = )/m);
    assert.equal(parts.length, 1 + 4096);
    for (const k of [0, 1, 4095]) {
        const expected = numbered(entryOutput('dense.bin', pxs, k), k).toString('latin1');
        assert.equal(k === 0 ? parts[0] + parts[1] : parts[k + 1], expected, `entry ${k}`);
    }
});

// The server sends no-store, so once it is gone only the page's service worker can answer: the
// fresh worker that a cancel starts must come from there.
// The first four tags lie in the first slice read; the fifth, past 4 GiB, is not reached.
test('with the server gone, a long scan shows its progress and cancels, keeping what it found, and the page runs again', async () => {
    server.closeAllConnections();
    await new Promise((resolve) => server.close(resolve));
    await choose(files['several.bin']);
    await page.waitForSelector('#progress:not([hidden])');
    await page.waitForFunction(() => document.querySelector('#instruments').children.length === 4);
    await page.click('#cancel');
    assert.equal(await page.$eval('#status', (e) => e.textContent), 'Cancelled reading several.bin: the 4 instruments found before are listed.');
    assert.deepEqual(await listed(), ['14', '4097', '4204', '70004']);
    await choose(files.sample);
    assert.equal((await finished()).text, nativeOutput(files.sample));
});

test('Play sounds the shown instrument: its audio context runs', async () => {
    await choose(files.sample);
    await finished();
    await page.click('#play');
    await page.waitForFunction(() => window.audioContexts[0]?.state === 'running');
    await page.click('#play');
});

test('no request left the page origin, and nothing went wrong in the console', () => {
    assert.deepEqual(outsideRequests, []);
    assert.deepEqual(pageErrors, []);
});
