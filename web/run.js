// The run: the chosen, dropped or launched files read one after another, in the order of their
// paths, by keldo-list.wasm in one worker that finds every tag of a file in one pass, and lists
// a zip archive's members as files of their own; the entries go to the list as they are found.
// A long run shows its progress, in files and in bytes, and can be cancelled; every run ends with
// a summary or a plain message.
import { addEntries, addFiles, addMember, clearList, draw, fileSays, list, startFile } from './list.js';
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
const kind = ({ file, listed }, { status }) => (status !== 0 ? 'unread' : listed ? 'listed' : file?.size === 0 ? 'empty' : 'none');

const doubtfulOf = ({ doubtful }) => (doubtful ? `, ${doubtful} doubtful` : '');

// A file's line once it is read; an archive the page does not unpack says so.
function state(file, result) {
    const many = `${plural(file.listed, 'instrument')}${doubtfulOf(file)}`;
    const said = { unread: `${file.listed ? `${many}, then ` : ''}could not be read (${result.readError ?? 'a read failed'})`,
                   listed: many, empty: 'empty', none: 'no instrument' }[kind(file, result)];
    return result.archive ? `${said}; it is a ${result.archive} archive, which the page reads as its bytes: it unpacks only zip archives` : said;
}

// An archive's line: how many of its files were listed, and how its unpacking ended.
function archiveState(archive, result) {
    const members = list.files.filter(({ memberOf }) => memberOf === archive).length;
    const unpacked = `a zip archive, ${plural(members, 'file')} unpacked`;
    return result.zip.failed ? `${unpacked}, then unpacking failed (${result.zip.failed})` : unpacked;
}

const differentOf = () => `${list.instruments.length} different${list.doubtful ? `, ${list.doubtful} doubtful` : ''}`;

// How many instruments the one file holds.
function counted({ status, readError }) {
    if (status !== 0)
        return `The rest of it could not be read (${readError ?? 'a read failed'}): the ${list.count} found before are listed.`;
    return list.count === 1 ? `It holds no other instrument${list.doubtful ? '; it is doubtful' : ''}.` : `It holds ${list.count} instruments, ${differentOf()}.`;
}

// The summary of a run of several files: what was listed, and which files gave nothing. Every
// file counts, a member of an archive too; an archive itself is its members.
function summary(results) {
    const files = list.files.filter((file) => !results.get(file)?.zip);
    const which = (wanted) => files.filter((file) => results.has(file) && kind(file, results.get(file)) === wanted).map(({ path }) => path);
    const said = [`${files.length} files: ${plural(list.count, 'instrument')} listed, ${differentOf()}.`];
    const [unread, empty, none] = ['unread', 'empty', 'none'].map(which);
    const failed = list.files.filter((file) => results.get(file)?.zip?.failed).map(({ path }) => path);
    if (unread.length || failed.length)
        said.push(`Could not be read: ${named([...unread, ...failed])}.`);
    if (empty.length)
        said.push(`Empty: ${named(empty)}.`);
    if (none.length)
        said.push(`No instrument in ${plural(none.length, 'file')}.`);
    return said.join(' ');
}

function finish(results) {
    stopWaiting();
    draw();  // every line as it now stands, before the summary says the run is over
    const files = list.files;
    if (list.count === 0) {
        const shown = files.find(({ output }) => output);
        if (shown)
            show(shown.output, false);
    }
    if (files.length > 1)
        return say(summary(results));
    const result = results.get(files[0]);
    if (result.tooLarge)
        return say(`This browser does not let a page opened from the disk read ${files[0].path}: open keldo's page from a web server, or use another browser, for files over 1 GiB.`);
    if (list.count === 0)
        return say(describe(files[0], result));
    say(`${files[0].path}: the instrument block starts at byte ${list.px[0]}. ${counted(result)}`);
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

// Has the run's worker read input `index` (or its `bytes`); resolves with its answer, or with
// 'stopped' once the run is cancelled.
function readFile(job, index, bytes) {
    if (job.failed)  // the worker died while the page read a file into memory
        return Promise.resolve(job.failed);
    job.worker.postMessage({ index, bytes }, bytes ? [bytes] : []);
    return new Promise((resolve) => (job.answer = resolve));
}

// Reads input `index`, file `job.at` of the list; where a page opened from the disk may not read
// it in a worker, reads it into memory first.
async function readOne(job, index) {
    const file = list.files[job.at];
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
    const job = { worker: new Worker(url), total: files.reduce((sum, { file }) => sum + file.size, 0), before: 0, index: 0, at: 0,
                  current: 0, timer: setTimeout(() => (ui.progress.hidden = false), PROGRESS_DELAY_MS), answer: null, failed: null,
                  done: false };
    // Entries go to the file read now: the input, or the member of it being unpacked.
    const handlers = {
        progress: (data) => showProgress(data.offset),
        entries: (data) => addEntries(job.current, data),
        output: (data) => (list.files[job.current].output = data.bytes),
        member: ({ name }) => {
            job.current = addMember(job.at, name);
            startFile(job.current);
        },
        memberDone: (result) => {
            fileSays(job.current, state(list.files[job.current], result));
            job.results.set(list.files[job.current], result);
        },
    };
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
    job.results = new Map();  // by file: what reading it came to
    for (const [index, input] of files.entries()) {
        const file = list.files[job.at];
        Object.assign(job, { index, answer: null, current: job.at });
        fileSays(job.at, 'reading…');
        startFile(job.at);
        showProgress(0);
        const result = await readOne(job, index);
        if (result.type === 'stopped')
            return;
        if (result.type === 'failed') {
            stopWaiting();
            show(new Uint8Array(0), false);
            clearList();
            return say(`keldo could not run on ${input.path}: ${result.message}`);
        }
        job.results.set(file, result);
        fileSays(job.at, result.tooLarge ? 'not read: over 1 GiB, which this browser does not let a page opened from the disk read'
                       : result.zip ? archiveState(job.at, result) : state(file, result));
        file.opened = result.opened && !result.zip;
        job.before += input.file.size;
        job.at += 1 + list.files.filter(({ memberOf }) => memberOf === job.at).length;
    }
    finish(job.results);
}

// A scan runs to its end once started: cancelling ends its worker. What was found before stays
// listed, and the status line says where the run stopped.
export function cancel() {
    if (!current || current.done)
        return;
    stopWaiting();
    const found = list.count;
    const { index, at } = current;
    const files = list.files;
    for (let i = at; i < files.length; ++i)
        fileSays(i, i === at ? 'cancelled while it was read' : 'not read: cancelled');
    const inputs = files.length - files.filter(({ memberOf }) => memberOf !== undefined).length;
    draw();
    const where = files.length === 1 ? files[0].path : `${files[at].path}, file ${index + 1} of ${inputs}`;
    say(`Cancelled reading ${where}` + (found ? `: the ${found} instruments found before are listed.` : '.'));
}
