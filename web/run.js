// The run: the chosen, dropped or launched files read one after another, in the order of their
// paths, by keldo-list.wasm in one worker that finds every tag of a file in one pass; the entries
// go to the list as they are found. A long run shows its progress, in files and in bytes, and
// can be cancelled; every run ends with a summary or a plain message.
import { LIST_LIMIT, addEntry, addFiles, clearList, fileSays, list } from './list.js';
import { show } from './shown.js';
import { ownScript, ownFile, say, ui } from './ui.js';

const PROGRESS_DELAY_MS = 300;  // a run shorter than this shows no progress bar
// A page opened from the disk in WebKit cannot read a file in its worker: it reads a file up to
// this size itself and hands the bytes over.
const IN_MEMORY_LIMIT = 2 ** 30;

// Both loaded once, while the page loads; every run starts one worker from a blob of its script
// (one file, the shim inside it), which instantiates the module afresh for each file.
const module = WebAssembly.compileStreaming(ownFile('keldo-list.wasm'));
const workerUrl = ownScript('worker.js');
module.catch(() => {});  // both reported when a file is chosen
workerUrl.catch(() => {});
// The run under way or last: its worker, its bytes in all and before the file being read, that
// file, its progress timer, the answer it waits for, how its worker failed if it did, whether it
// is done.
let current = null;
let runs = 0;  // a run that waited for the module goes on only if no later one started

const size = (bytes) => (bytes < 2 ** 30 ? `${(bytes / 2 ** 20).toFixed(1)} MiB` : `${(bytes / 2 ** 30).toFixed(2)} GiB`);
const plural = (count, one, many = `${one}s`) => `${count} ${count === 1 ? one : many}`;
// Files by path, the first few of however many.
const named = (paths) => (paths.length <= 3 ? paths.join(', ') : `${paths.slice(0, 3).join(', ')} and ${paths.length - 3} more`);

// Ends the run under way, whatever it ended with.
function stopWaiting() {
    current.worker.terminate();
    clearTimeout(current.timer);
    ui.progress.hidden = ui.cancel.hidden = true;
    current.done = true;
    current.answer?.({ type: 'stopped' });
}

// What became of a file that listed nothing, in words; keldo's own text is shown below it.
function describe({ file, path }, { status, readError }) {
    if (readError)
        return `The browser could not read ${path} (${readError}), so keldo reports it as unreadable.`;
    if (status !== 0)
        return `keldo could not read ${path}: its last line is Japanese for "the file cannot be opened".`;
    return file.size === 0 ? `${path} is empty: it holds no instrument.` : `${path} holds no SNDF tag: it holds no instrument.`;
}

// What a file read came to: 'unread' (whole or in part), 'listed', 'empty' or 'none'.
const kind = ({ file, listed }, { status }) => (status !== 0 ? 'unread' : listed ? 'listed' : file.size === 0 ? 'empty' : 'none');

// A file's line once it is read.
function state(file, result, cut) {
    const many = plural(file.listed, 'instrument');
    if (cut)
        return file.listed ? `${many} listed, then the list was full` : 'it holds instruments, but the list was full';
    return { unread: `${file.listed ? `${many}, then ` : ''}could not be read (${result.readError ?? 'a read failed'})`,
             listed: many, empty: 'empty', none: 'no instrument' }[kind(file, result)];
}

// How many instruments the one file holds, and why the list may not hold them all.
function counted({ status, readError }) {
    const listed = list.entries.length;
    if (list.more)
        return `It holds more than ${LIST_LIMIT} instruments: the first ${LIST_LIMIT} are listed.`;
    if (status !== 0)
        return `The rest of it could not be read (${readError ?? 'a read failed'}): the ${listed} found before are listed.`;
    return listed === 1 ? 'It holds no other instrument.' : `It holds ${listed} instruments, ${list.different.size} different.`;
}

// The summary of a run of several files: what was listed, and which files gave nothing or were
// cut short.
function summary(results, cut) {
    const files = list.files;
    const which = (wanted) => files.filter((file, i) => results[i] && kind(file, results[i]) === wanted).map(({ path }) => path);
    const said = [`${files.length} files: ${plural(list.entries.length, 'instrument')} listed, ${list.different.size} different.`];
    const [unread, empty, none] = ['unread', 'empty', 'none'].map(which);
    if (unread.length)
        said.push(`Could not be read: ${named(unread)}.`);
    if (empty.length)
        said.push(`Empty: ${named(empty)}.`);
    if (none.length)
        said.push(`No instrument in ${plural(none.length, 'file')}.`);
    if (cut !== null) {
        const after = files.length - cut - 1;
        const rest = { 0: '.', 1: ', and the file after it was not read.' }[after] ?? `, and the ${after} files after it were not read.`;
        said.push(`The list is full at ${LIST_LIMIT} instruments: ${files[cut].path} was cut short${rest}`);
    }
    return said.join(' ');
}

function finish(results, cut) {
    stopWaiting();
    const files = list.files;
    if (list.entries.length === 0) {
        const shown = files.find(({ output }) => output);
        if (shown)
            show(shown.output, false);
    }
    if (files.length > 1)
        return say(summary(results, cut));
    const [result] = results;
    if (result.tooLarge)
        return say(`This browser does not let a page opened from the disk read ${files[0].path}: open keldo's page from a web server, or use another browser, for files over 1 GiB.`);
    if (list.entries.length === 0)
        return say(describe(files[0], result));
    say(`${files[0].path}: the instrument block starts at byte ${document.getElementById('instrument-0').dataset.px}. ${counted(result)}`);
}

// How far the run has read: `offset` bytes into the file being read.
function showProgress(offset) {
    const { index, before, total } = current;
    const files = list.files;
    ui.progress.max = total;
    ui.progress.value = before + offset;
    say(files.length === 1 ? `Reading ${files[0].path}: ${size(offset)} of ${size(total)}`
                           : `Reading ${files[index].path}: ${index} of ${files.length} files done, ${size(before + offset)} of ${size(total)}`);
}

// Has the run's worker read file `index` (or its `bytes`) for as many tags as the list has room
// for, and one more to tell whether there are more; resolves with its answer, or with 'stopped'
// once the run is cancelled.
function readFile(job, index, bytes) {
    if (job.failed)  // the worker died while the page read a file into memory
        return Promise.resolve(job.failed);
    job.worker.postMessage({ index, bytes, count: LIST_LIMIT - list.entries.length + 1 }, bytes ? [bytes] : []);
    return new Promise((resolve) => (job.answer = resolve));
}

// Reads file `index`; where a page opened from the disk may not read it in a worker, reads it
// into memory first.
async function readOne(job, index) {
    const file = list.files[index];
    if (file.error)  // a dropped file or folder that could not be taken
        return { type: 'done', status: 1, opened: false, readError: file.error };
    const result = await readFile(job, index, null);
    if (result.type !== 'done' || result.opened || location.protocol !== 'file:')
        return result;
    if (file.file.size > IN_MEMORY_LIMIT)
        return { ...result, tooLarge: true };
    say(`Reading ${file.path} into memory, as this browser wants for a page opened from the disk…`);
    let bytes;
    try {
        bytes = await file.file.arrayBuffer();
    } catch (error) {
        return { ...result, readError: error.name };
    }
    return job.done ? { type: 'stopped' } : readFile(job, index, bytes);
}

// The run of `files`, with its worker, which gets the module and the files first; its entries go
// to the list as they come.
function startJob(files, module, url) {
    const job = { worker: new Worker(url), total: files.reduce((sum, { file }) => sum + file.size, 0), before: 0, index: 0,
                  timer: setTimeout(() => (ui.progress.hidden = false), PROGRESS_DELAY_MS), answer: null, failed: null, done: false };
    const handlers = { progress: (data) => showProgress(data.offset), entry: (data) => addEntry(data.text, job.index) };
    job.worker.onmessage = ({ data }) => (handlers[data.type] ?? job.answer)(data);
    // A worker that cannot start, or dies, ends the run as one that reports a failure does.
    job.worker.onerror = (event) => {
        event.preventDefault();
        job.failed = { type: 'failed', message: event.message || 'the page\'s worker stopped' };
        job.answer?.(job.failed);
    };
    job.worker.postMessage({ module, files: files.map(({ file }) => file) });
    return job;
}

// Reads `files` ({ file, path }, in order), each once, and lists what they hold.
export async function run(files) {
    cancel();
    if (files.length === 0)
        return say('There is no file to read in what was given: the folder is empty.');
    const run = ++runs;
    const [compiled, url] = await Promise.allSettled([module, workerUrl]);
    const failed = [compiled, url].find(({ status }) => status === 'rejected');
    if (failed)
        return say(`The page could not load its own files (${failed.reason.message}); reload it to try again.`);
    if (run !== runs)
        return;
    show(new Uint8Array(0), false);
    clearList();
    addFiles(files, 'waiting');
    ui.progress.value = 0;
    say(files.length === 1 ? `Reading ${files[0].path}…` : `Reading ${files.length} files…`);
    ui.cancel.hidden = false;
    const job = current = startJob(files, compiled.value, url.value);
    const results = [];
    let cut = null;
    for (const [index, file] of list.files.entries()) {
        Object.assign(job, { index, answer: null });
        if (cut !== null) {
            fileSays(index, 'not read: the list was full');
            continue;
        }
        fileSays(index, 'reading…');
        showProgress(0);
        const result = await readOne(job, index);
        if (result.type === 'stopped')
            return;
        if (result.type === 'failed') {
            stopWaiting();
            show(new Uint8Array(0), false);
            clearList();
            return say(`keldo could not run on ${file.path}: ${result.message}`);
        }
        results.push(result);
        if (list.more)
            cut = index;
        fileSays(index, result.tooLarge ? 'not read: over 1 GiB, which this browser does not let a page opened from the disk read'
                                        : state(file, result, cut === index));
        file.opened = result.opened;
        job.before += file.file.size;
    }
    finish(results, cut);
}

// A scan runs to its end once started: cancelling ends its worker. What was found before stays
// listed, and the status line says where the run stopped.
export function cancel() {
    if (!current || current.done)
        return;
    stopWaiting();
    const found = list.entries.length;
    const { index } = current;
    const files = list.files;
    for (let i = index; i < files.length; ++i)
        fileSays(i, i === index ? 'cancelled while it was read' : 'not read: cancelled');
    const where = files.length === 1 ? files[0].path : `${files[index].path}, file ${index + 1} of ${files.length}`;
    say(`Cancelled reading ${where}` + (found ? `: the ${found} instruments found before are listed.` : '.'));
}
