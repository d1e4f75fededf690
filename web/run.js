// The run: a chosen or dropped file read by keldo-list.wasm in a worker, which finds every tag in
// one pass; its entries go to the list as they are found. A long run shows its progress and can
// be cancelled; every run ends with a summary or a plain message.
import { LIST_LIMIT, addEntry, clearList, list } from './list.js';
import { show } from './shown.js';
import { ownScript, ownFile, say, ui } from './ui.js';

const PROGRESS_DELAY_MS = 300;  // a run shorter than this shows no progress bar
// A page opened from the disk in WebKit cannot read a file in its worker: it reads a file up to
// this size itself and hands the bytes over.
const IN_MEMORY_LIMIT = 2 ** 30;

// Both loaded once, while the page loads; every run instantiates the module afresh, in a worker of
// its own, started from a blob of its script (one file, the shim inside it).
const module = WebAssembly.compileStreaming(ownFile('keldo-list.wasm'));
const workerUrl = ownScript('worker.js');
module.catch(() => {});  // both reported when a file is chosen
workerUrl.catch(() => {});
let worker = null;  // the worker of the run under way
let current = null;  // the run under way or last: its file, its progress timer, whether it is done
let runs = 0;  // a run that waited for the module goes on only if no later one started

// The file of the run under way or last.
export const currentFile = () => current?.file;

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
    const listed = list.entries.length;
    if (list.more)
        return `It holds more than ${LIST_LIMIT} instruments: the first ${LIST_LIMIT} are listed.`;
    if (status !== 0)
        return `The rest of it could not be read (${readError ?? 'a read failed'}): the ${listed} found before are listed.`;
    return listed === 1 ? 'It holds no other instrument.' : `It holds ${listed} instruments, ${list.different.size} different.`;
}

function finish(file, result) {
    stopWaiting();
    current.done = true;
    if (result.type === 'failed') {
        show(new Uint8Array(0), false);
        clearList();
        return say(`keldo could not run on ${file.name}: ${result.message}`);
    }
    if (list.entries.length === 0 && result.readError && !current.bytes && location.protocol === 'file:')
        return file.size <= IN_MEMORY_LIMIT ? runInMemory(file)
            : say(`This browser does not let a page opened from the disk read ${file.name}: open keldo's page from a web server, or use another browser, for files over 1 GiB.`);
    if (list.entries.length === 0)
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

export async function run(file, bytes = null) {
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
    current = { file, bytes, timer: setTimeout(() => (ui.progress.hidden = false), PROGRESS_DELAY_MS) };
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
export function cancel() {
    if (!current || current.done)
        return;
    stopWaiting();
    current.done = true;
    const found = list.entries.length;
    say(`Cancelled reading ${current.file.name}` + (found ? `: the ${found} instruments found before are listed.` : '.'));
}
