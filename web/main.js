// The page's controls: a file chosen or dropped is run through keldo-list.wasm in a worker, which
// finds every tag in one pass; the list fills in as they are found, and the instrument chosen in
// it is shown as the command prints it, drawn, and can be copied or saved; all of them can be
// saved as one source. A long scan shows its progress and can be cancelled.
import { parseInstrument, drawWave, drawEnvelope, drawNothing } from './draw.js';
import { NOTES, SAMPLE_RATE, renderNote } from './sound.js';
import { wavFile } from './wav.js';

const PROGRESS_DELAY_MS = 300;  // a scan shorter than this shows no progress bar
// A file dense in tags (every fourth byte) is listed this far and no further, so that the list,
// and the page's memory, stay small whatever the file holds.
const LIST_LIMIT = 4096;
// A page opened from the disk in WebKit cannot read a file in its worker: it reads a file up to
// this size itself and hands the bytes over.
const IN_MEMORY_LIMIT = 2 ** 30;
const ui = Object.fromEntries(['file', 'drop', 'status', 'progress', 'cancel', 'mml', 'copy', 'save', 'wave', 'volume', 'pitch',
                               'instruments', 'save-all', 'note', 'play', 'save-wav']
    .map((id) => [id.replace(/-(.)/g, (_, c) => c.toUpperCase()), document.getElementById(id)]));

// The page's own files: inside the page when it is one file (keldo.html holds each in base64, in
// a data block whose id is the file's name), else from its site.
async function ownFile(name) {
    const kept = document.getElementById(name);
    if (kept) {
        const bytes = Uint8Array.from(atob(kept.textContent), (c) => c.charCodeAt(0));
        return new Response(bytes, { headers: { 'Content-Type': kept.dataset.type } });
    }
    const response = await fetch(name);
    if (!response.ok)
        throw new Error(`${name}: ${response.status} ${response.statusText}`);
    return response;
}

// Both loaded once, while the page loads; every run instantiates the module afresh, in a worker of
// its own. The worker starts from a blob of its script (one file, the shim inside it): a worker
// from a blob is held to this page's Content-Security-Policy, where one loaded from a file would
// answer only to the (absent) headers of that file, and could send the file anywhere.
const module = WebAssembly.compileStreaming(ownFile('keldo-list.wasm'));
const workerUrl = ownFile('worker.js').then(async (response) =>
    URL.createObjectURL(new Blob([await response.blob()], { type: 'text/javascript' })));
module.catch(() => {});  // both reported when a file is chosen
workerUrl.catch(() => {});
let worker = null;  // the worker of the run under way
let current = null;  // the file being read: its progress timer, its entries, whether it is done
let runs = 0;  // a run that waited for the module goes on only if no later one started

// A page in one file is its own offline copy.
if ('serviceWorker' in navigator && !document.getElementById('worker.js'))
    navigator.serviceWorker.register('offline.js').catch(() => {});

function say(text) {
    ui.status.textContent = text;
}

function showPictures(text) {
    const instrument = parseInstrument(text);
    if (!instrument) {
        for (const id of ['wave', 'volume', 'pitch'])
            drawNothing(ui[id], 'No instrument', 'no instrument');
        return;
    }
    drawWave(ui.wave, instrument.wave);
    drawEnvelope(ui.volume, 'Volume envelope', instrument.volume, false);
    drawEnvelope(ui.pitch, 'Pitch envelope', instrument.pitch, true);
}

function show(output, succeeded) {
    const text = new TextDecoder('shift_jis').decode(output);
    stopSound();
    ui.mml.textContent = text;
    ui.copy.disabled = ui.save.disabled = ui.play.disabled = ui.saveWav.disabled = !succeeded;
    showPictures(text);
    return text;
}

// Shows listed entry `index`: its text, its pictures, Copy and Save.
function choose(index) {
    const item = ui.instruments.children[index];
    if (!item)
        return;
    ui.instruments.querySelector('[aria-selected="true"]')?.setAttribute('aria-selected', 'false');
    item.setAttribute('aria-selected', 'true');
    ui.instruments.setAttribute('aria-activedescendant', item.id);
    item.scrollIntoView({ block: 'nearest' });
    current.shown = index;
    show(current.entries[index], true);
}

function clearList() {
    ui.instruments.replaceChildren();
    ui.instruments.removeAttribute('aria-activedescendant');
    ui.saveAll.disabled = true;
}

// An entry of keldo-list: the first is keldo's output for the file, shown as soon as it comes; the
// others are listed only when they hold an instrument (the last may say that a read failed).
function addEntry(output) {
    const text = new TextDecoder('shift_jis').decode(output);
    if (!current.first) {
        current.first = output;
        show(output, false);
    }
    if (current.entries.length === LIST_LIMIT) {
        current.more = true;  // the one past the list, asked for to tell this
        return;
    }
    if (!parseInstrument(text))
        return;
    const index = current.entries.push(output) - 1;
    const item = ui.instruments.appendChild(document.createElement('li'));
    item.id = `instrument-${index}`;
    item.setAttribute('role', 'option');
    item.setAttribute('aria-selected', 'false');
    item.dataset.px = text.match(/^; px = (\d+)$/m)[1];
    item.textContent = `${index}: byte ${item.dataset.px}`;
    ui.saveAll.disabled = false;
    if (index === 0)
        choose(0);
}

// Ends the run under way, whatever it ended with.
function stopWaiting() {
    worker?.terminate();
    worker = null;
    clearTimeout(current?.timer);
    ui.progress.hidden = ui.cancel.hidden = true;
}

// What a run that listed nothing means, in words; keldo's own text is shown below it.
function describe(file, { status, readError }) {
    if (readError)
        return `The browser could not read ${file.name} (${readError}), so keldo reports it as unreadable.`;
    if (status !== 0)
        return `keldo could not read ${file.name}: its last line is Japanese for "the file cannot be opened".`;
    return file.size === 0 ? `${file.name} is empty: it holds no instrument.`
                           : `${file.name} holds no SNDF tag: it holds no instrument.`;
}

// How many instruments the list holds, and why it may not hold them all.
function counted({ status, readError }) {
    const listed = current.entries.length;
    if (current.more)
        return `It holds more than ${LIST_LIMIT} instruments: the first ${LIST_LIMIT} are listed.`;
    if (status !== 0)
        return `The rest of it could not be read (${readError ?? 'a read failed'}): the ${listed} found before are listed.`;
    return listed === 1 ? 'It holds no other instrument.' : `It holds ${listed} instruments.`;
}

function finish(file, result) {
    stopWaiting();
    current.done = true;
    if (result.type === 'failed') {
        show(new Uint8Array(0), false);
        clearList();
        return say(`keldo could not run on ${file.name}: ${result.message}`);
    }
    if (current.entries.length === 0 && result.readError && !current.bytes && location.protocol === 'file:')
        return file.size <= IN_MEMORY_LIMIT ? runInMemory(file)
            : say(`This browser does not let a page opened from the disk read ${file.name}: open keldo's page from a web server, or use another browser, for files over 1 GiB.`);
    if (current.entries.length === 0)
        return say(describe(file, result));
    const first = ui.instruments.children[0].dataset.px;
    say(`${file.name}: the instrument block starts at byte ${first}. ${counted(result)}`);
}

function showProgress(file, offset) {
    ui.progress.max = file.size;
    ui.progress.value = offset;
    const size = (bytes) => (bytes < 2 ** 30 ? `${(bytes / 2 ** 20).toFixed(1)} MiB` : `${(bytes / 2 ** 30).toFixed(2)} GiB`);
    say(`Reading ${file.name}: ${size(offset)} of ${size(file.size)}`);
}

async function runInMemory(file) {
    say(`Reading ${file.name} into memory, as this browser wants for a page opened from the disk…`);
    let bytes;
    try {
        bytes = await file.arrayBuffer();
    } catch (error) {
        return say(describe(file, { readError: error.name }));
    }
    run(file, bytes);
}

async function run(file, bytes = null) {
    cancel();
    const run = ++runs;
    const [compiled, url] = await Promise.allSettled([module, workerUrl]);
    const failed = [compiled, url].find(({ status }) => status === 'rejected');
    if (failed)
        return say(`The page could not load its own files (${failed.reason.message}); reload it to try again.`);
    if (run !== runs)
        return;
    show(new Uint8Array(0), false);
    clearList();
    ui.progress.value = 0;
    say(`Reading ${file.name}…`);
    ui.cancel.hidden = false;
    current = { file, bytes, entries: [], timer: setTimeout(() => (ui.progress.hidden = false), PROGRESS_DELAY_MS) };
    const handlers = { progress: (data) => showProgress(file, data.offset), entry: (data) => addEntry(data.text) };
    worker = new Worker(url.value);
    worker.onmessage = ({ data }) => (handlers[data.type] ?? ((done) => finish(file, done)))(data);
    // A worker that cannot start, or dies, ends the run as one that reports a failure does.
    worker.onerror = (event) => {
        event.preventDefault();
        finish(file, { type: 'failed', message: event.message || 'the page\'s worker stopped' });
    };
    // One more than the list holds, to tell whether the file holds more.
    worker.postMessage({ module: compiled.value, file: bytes ?? file, count: LIST_LIMIT + 1 }, bytes ? [bytes] : []);
}

// A scan runs to its end once started: cancelling ends its worker. What was found before stays
// listed.
function cancel() {
    if (!current || current.done)
        return;
    stopWaiting();
    current.done = true;
    const found = current.entries.length;
    say(`Cancelled reading ${current.file.name}` + (found ? `: the ${found} instruments found before are listed.` : '.'));
}

async function copy() {
    try {
        await navigator.clipboard.writeText(ui.mml.textContent);
        say('Copied the output.');
    } catch {
        say('The browser did not let this page copy: select the output and copy it by hand.');
    }
}

let audio = null;  // made on the first press of Play, as browsers want
let sound = null;  // the note sounding now

function stopSound() {
    sound?.stop();
    sound = null;
}

// The shown instrument at the chosen note: what Play sounds and what Save as .wav saves.
function rendered() {
    return renderNote(ui.mml.textContent, NOTES.find((note) => note.name === ui.note.value).frequency);
}

function play() {
    stopSound();
    audio = audio ?? new AudioContext();
    audio.resume();
    const buffer = audio.createBuffer(1, SAMPLE_RATE, SAMPLE_RATE);
    buffer.copyToChannel(rendered(), 0);
    sound = new AudioBufferSourceNode(audio, { buffer });
    sound.connect(audio.destination);
    sound.start();
}

const source = (parts) => new Blob(parts, { type: 'text/plain' });

function download(blob, extension) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = `${current.file.name.replace(/(.)\.[^.]*$/, '$1')}.${extension}`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
}

// Every listed instrument in one source, as keldo-list prints it for the file: the banner once,
// a line naming the file (its control characters written as \xHH), then each entry's offset
// line and its definitions, numbered across the list.
function saveAll() {
    const texts = current.entries.map((output) => new TextDecoder().decode(output));
    const name = current.file.name.replace(/[\x00-\x1f\x7f]/g, (c) => `\\x${c.charCodeAt(0).toString(16).padStart(2, '0')}`);
    const banner = texts[0].slice(0, texts[0].indexOf('\n') + 1);
    download(source([banner, `; file ${name}\n`, ...texts.map((text, k) =>
        text.slice(banner.length).replace(/^@(WT|v|EP)0 = \{$/gm, `@$1${k} = {`))]), 'mml');
}

// The list's keys, while it has the focus: each moves to an entry and shows it.
function listKey(event) {
    const last = ui.instruments.children.length - 1;
    const to = { ArrowDown: current?.shown + 1, ArrowUp: current?.shown - 1, Home: 0, End: last, Enter: current?.shown }[event.key];
    if (to === undefined || last < 0)
        return;
    event.preventDefault();
    choose(Math.max(0, Math.min(last, to)));
}

ui.file.addEventListener('change', () => ui.file.files[0] && run(ui.file.files[0]));
ui.cancel.addEventListener('click', cancel);
ui.copy.addEventListener('click', copy);
ui.save.addEventListener('click', () => download(source([current.entries[current.shown]]), 'mml'));
ui.saveAll.addEventListener('click', saveAll);
ui.play.addEventListener('click', play);
ui.saveWav.addEventListener('click', () => download(wavFile(rendered(), SAMPLE_RATE), 'wav'));
ui.note.append(...NOTES.map(({ name }) => new Option(name, name, name === 'A4', name === 'A4')));
ui.instruments.addEventListener('click', (event) => {
    const item = event.target.closest('li');
    if (item)
        choose([...ui.instruments.children].indexOf(item));
});
ui.instruments.addEventListener('keydown', listKey);
document.addEventListener('dragover', (event) => {
    event.preventDefault();
    ui.drop.classList.add('over');
});
document.addEventListener('dragleave', () => ui.drop.classList.remove('over'));
document.addEventListener('drop', (event) => {
    event.preventDefault();
    ui.drop.classList.remove('over');
    const file = event.dataTransfer.files[0];
    if (file)
        run(file);
});
showPictures('');
