// The page's controls: a file chosen or dropped is run through keldo.wasm in a worker; its output
// is shown as the command prints it, drawn, and can be copied or saved; a long scan shows its
// progress and can be cancelled.
import { parseInstrument, drawWave, drawEnvelope, drawNothing } from './draw.js';

const PROGRESS_DELAY_MS = 300;  // a scan shorter than this shows no progress bar
const ui = Object.fromEntries(['file', 'drop', 'status', 'progress', 'cancel', 'mml', 'copy', 'save', 'wave', 'volume', 'pitch']
    .map((id) => [id, document.getElementById(id)]));

// The worker starts from a blob that imports worker.js: a worker from a blob is held to this
// page's Content-Security-Policy, where one loaded from a file would answer only to the (absent)
// headers of that file, and could send the file anywhere.
const WORKER_URL = URL.createObjectURL(new Blob([`import '${new URL('worker.js', import.meta.url)}';`],
                                                { type: 'text/javascript' }));

// Compiled once, while the page loads; every run instantiates it afresh.
const module = WebAssembly.compileStreaming(fetch('keldo.wasm'));
module.catch(() => {});  // reported when a file is chosen
let worker = startWorker();
let current = null;  // the file being read, its progress timer, its output once done
let runs = 0;  // a run that waited for the module goes on only if no later one started

if ('serviceWorker' in navigator)
    navigator.serviceWorker.register('offline.js').catch(() => {});

function startWorker() {
    const started = new Worker(WORKER_URL, { type: 'module' });
    started.onerror = (event) => {
        event.preventDefault();
        stopWaiting();
        say('The page could not start its worker; reload it to try again.');
    };
    return started;
}

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
    ui.mml.textContent = text;
    ui.copy.disabled = ui.save.disabled = !succeeded;
    showPictures(text);
    return text;
}

function stopWaiting() {
    clearTimeout(current?.timer);
    ui.progress.hidden = ui.cancel.hidden = true;
}

// What the run means, in words; keldo's own text is shown below it.
function describe(file, { status, readError }, text) {
    const offset = text.match(/^; px = (\d+)$/m)?.[1];
    if (readError)
        return `The browser could not read ${file.name} (${readError}), so keldo reports it as unreadable.`;
    if (status !== 0)
        return `keldo could not read ${file.name}: its last line is Japanese for "the file cannot be opened".`;
    if (offset)
        return `${file.name}: the instrument block starts at byte ${offset}.`;
    return file.size === 0 ? `${file.name} is empty: it holds no instrument.`
                           : `${file.name} holds no SNDF tag: it holds no instrument.`;
}

function finish(file, result) {
    stopWaiting();
    if (result.type === 'failed') {
        current = null;
        show(new Uint8Array(0), false);
        return say(`keldo could not run on ${file.name}: ${result.message}`);
    }
    current = { file, output: result.output };
    say(describe(file, result, show(result.output, result.status === 0)));
}

function showProgress(file, offset) {
    ui.progress.max = file.size;
    ui.progress.value = offset;
    const size = (bytes) => (bytes < 2 ** 30 ? `${(bytes / 2 ** 20).toFixed(1)} MiB` : `${(bytes / 2 ** 30).toFixed(2)} GiB`);
    say(`Reading ${file.name}: ${size(offset)} of ${size(file.size)}`);
}

async function run(file) {
    cancel();
    const run = ++runs;
    let compiled;
    try {
        compiled = await module;
    } catch (error) {
        return say(`keldo.wasm could not be loaded (${error.message}); reload the page to try again.`);
    }
    if (run !== runs)
        return;
    show(new Uint8Array(0), false);
    ui.progress.value = 0;
    say(`Reading ${file.name}…`);
    ui.cancel.hidden = false;
    current = { file, timer: setTimeout(() => (ui.progress.hidden = false), PROGRESS_DELAY_MS) };
    worker.onmessage = ({ data }) => (data.type === 'progress' ? showProgress(file, data.offset) : finish(file, data));
    worker.postMessage({ module: compiled, file });
}

// A scan runs to its end once started: cancelling ends the worker and starts a fresh one.
function cancel() {
    if (!current || current.output)
        return;
    worker.terminate();
    worker = startWorker();
    stopWaiting();
    say(`Cancelled reading ${current.file.name}.`);
    current = null;
}

async function copy() {
    try {
        await navigator.clipboard.writeText(ui.mml.textContent);
        say('Copied the output.');
    } catch {
        say('The browser did not let this page copy: select the output and copy it by hand.');
    }
}

function save() {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([current.output], { type: 'text/plain' }));
    link.download = `${current.file.name.replace(/(.)\.[^.]*$/, '$1')}.mml`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href));
}

ui.file.addEventListener('change', () => ui.file.files[0] && run(ui.file.files[0]));
ui.cancel.addEventListener('click', cancel);
ui.copy.addEventListener('click', copy);
ui.save.addEventListener('click', save);
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
