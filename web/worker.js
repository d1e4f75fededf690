// Runs keldo-list.wasm on the chosen files, one file a message, in one worker that serves a whole
// run so that a folder of small files does not pay for a worker each, and reads small files
// ahead, several in one read; the page stays responsive. For every tag of the file up to a count, it prints what keldo prints for that tag, each entry
// ending in a NUL byte (its --separate form), and each entry goes to the page as soon as it is
// whole. The module sees the file as "input" in its current folder and reads it through the
// stream buffer it always uses; those reads are served from one slice of the file at a time, read
// when first needed, so memory does not grow with the file. The browser has no "open": a file
// whose first slice it refuses is one that cannot be opened, as keldo-list would find a file gone
// or unreadable; a read refused later is the module's read error. Where the browser lets no
// worker read a file (WebKit, for a page opened from the disk), the page hands over its bytes.
import { WASI, Fd, Inode, File, OpenFile, PreopenDirectory, wasi } from '@bjorn3/browser_wasi_shim';

const SLICE_SIZE = 32 * 1024 * 1024;
const PROGRESS_INTERVAL_MS = 100;
const INPUT_NAME = 'input';

// The chosen file, read through FileReaderSync one slice at a time, or its bytes.
class ChosenFile extends Inode {
    constructor(file, onRead) {
        super();
        this.file = file;
        this.onRead = onRead;
    }

    path_open() {
        const opened = new OpenChosenFile(this.file, this.onRead);
        this.opened = opened.fill();
        return this.opened ? { ret: wasi.ERRNO_SUCCESS, fd_obj: opened } : { ret: wasi.ERRNO_IO };
    }
}

class OpenChosenFile extends Fd {
    constructor(file, onRead) {
        super();
        this.file = file;
        this.onRead = onRead;
        this.position = 0;
        this.slice = new Uint8Array(0);
        this.sliceStart = 0;
        this.size = file.size ?? file.byteLength;
        const reader = new FileReaderSync();
        this.read = file instanceof Uint8Array ? (start, end) => file.subarray(start, end)
                                               : (start, end) => new Uint8Array(reader.readAsArrayBuffer(file.slice(start, end)));
    }

    // Reads the slice from the position on; false if the browser refused.
    fill() {
        try {
            this.slice = this.read(this.position, Math.min(this.position + SLICE_SIZE, this.size));
            this.sliceStart = this.position;
        } catch (error) {
            this.onRead(this.position, error);
            return false;
        }
        this.onRead(this.sliceStart + this.slice.length, null);
        return true;
    }

    fd_read(size) {
        const inSlice = this.position - this.sliceStart;
        if (this.position < this.size && (inSlice < 0 || inSlice >= this.slice.length) && !this.fill())
            return { ret: wasi.ERRNO_IO, data: new Uint8Array(0) };
        const from = this.position - this.sliceStart;
        const data = this.slice.subarray(from, Math.min(from + size, this.slice.length));
        this.position += data.length;
        return { ret: wasi.ERRNO_SUCCESS, data };
    }

    fd_seek(offset, whence) {
        const base = { [wasi.WHENCE_SET]: 0, [wasi.WHENCE_CUR]: this.position, [wasi.WHENCE_END]: this.size };
        const position = base[whence] + Number(offset);
        if (!(position >= 0))
            return { ret: wasi.ERRNO_INVAL, offset: BigInt(this.position) };
        this.position = position;
        return { ret: wasi.ERRNO_SUCCESS, offset: BigInt(position) };
    }
}

// keldo-list's standard output: its entries, each posted as one message once its NUL is written.
class Entries extends Fd {
    constructor() {
        super();
        this.pending = new Uint8Array(0);  // the start of an entry not yet whole
    }

    fd_write(data) {
        let bytes = new Uint8Array(this.pending.length + data.length);
        bytes.set(this.pending);
        bytes.set(data, this.pending.length);
        for (let end; (end = bytes.indexOf(0)) >= 0; bytes = bytes.subarray(end + 1)) {
            const entry = bytes.slice(0, end);
            postMessage({ type: 'entry', text: entry }, [entry.buffer]);
        }
        this.pending = bytes.slice();
        return { ret: wasi.ERRNO_SUCCESS, nwritten: data.byteLength };
    }
}

let lastProgress = 0;  // over the whole run, so that many small files do not flood the page
let run = { module: null, files: [] };  // the run's module, and its files in order
const ahead = new Map();  // files read ahead, by index: their bytes
let aloneUntil = 0;  // the files before this one are read one by one

// The bytes of small file `index`, read with the files after it in one read of up to a slice: a
// browser reads a folder of small files several times faster so than one file at a time. Null
// for a file read as it always was: a large one, the last, or one of a group whose read failed,
// whose files are then read one by one, so that each reports its own error.
function readAhead(index) {
    if (!ahead.has(index) && index >= aloneUntil) {
        let end = index;
        const { files } = run;
        for (let total = 0; end < files.length && total + files[end].size <= SLICE_SIZE; ++end)
            total += files[end].size;
        if (end - index < 2)
            return null;
        try {
            const bytes = new Uint8Array(new FileReaderSync().readAsArrayBuffer(new Blob(files.slice(index, end))));
            for (let k = index, at = 0; k < end; at += files[k++].size)
                ahead.set(k, bytes.subarray(at, at + files[k].size));
        } catch {
            aloneUntil = end;
        }
    }
    const bytes = ahead.get(index) ?? null;
    ahead.delete(index);
    return bytes;
}

// Runs keldo-list on `file` for its first `count` tags and returns its exit status as a shell
// sees it, whether the file opened, and the name of the browser's error if a read of it failed.
function runKeldo(module, file, count) {
    let readError = null;
    const onRead = (offset, error) => {
        if (error) {
            readError = readError ?? error.name;
        } else if (performance.now() - lastProgress >= PROGRESS_INTERVAL_MS) {
            lastProgress = performance.now();
            postMessage({ type: 'progress', offset });
        }
    };
    const input = new ChosenFile(file, onRead);
    const fds = [
        new OpenFile(new File([])),
        new Entries(),
        new OpenFile(new File([])),
        new PreopenDirectory('.', new Map([[INPUT_NAME, input]])),
    ];
    const shim = new WASI(['keldo-list', '--separate', `--max-count=${count}`, INPUT_NAME], [], fds, { debug: false });
    const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: shim.wasiImport });
    const status = shim.start(instance) & 0xff;
    return { type: 'done', status, opened: input.opened, readError };
}

// First the module and the run's files; then, for each file, its index, the count of tags to
// list, and its bytes where the page read it itself.
self.onmessage = ({ data }) => {
    if (data.files) {
        run = data;
        return;
    }
    const { index, count, bytes } = data;
    try {
        postMessage(runKeldo(run.module, bytes ? new Uint8Array(bytes) : readAhead(index) ?? run.files[index], count));
    } catch (error) {
        postMessage({ type: 'failed', message: String(error?.message ?? error) });
    }
};
