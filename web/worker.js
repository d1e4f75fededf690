// Runs keldo-list.wasm on the chosen files, one file a message, in one worker that serves a whole
// run so that a folder of small files does not pay for a worker each, and reads small files
// ahead, several in one read; the page stays responsive. For every tag of a file it prints what
// keldo prints for that tag and the checks that make it doubtful (its --separate form); the
// worker hands the page each entry as its offset, which different instrument it is (the
// definitions of each are sent once) and its checks, in batches, so that a file dense in tags
// costs the page a few bytes an entry. The module sees the file as "input" and reads it through
// the stream buffer it always uses, from one slice of the file at a time, read when first
// needed, so memory does not grow with the file. The browser has no "open": a file whose first
// slice it refuses is one that cannot be opened; a read refused later is the module's read
// error. Where the browser lets no worker read a file (WebKit, for a page opened from the disk),
// the page hands over its bytes. A zip archive's members are unpacked as they are read, a piece
// of the archive at a time, and each is listed as a file of its own, ARCHIVE:MEMBER, zips inside
// zips too; no other archive is unpacked here.
import { Unzip, UnzipInflate } from 'fflate';
import { WASI, Fd, Inode, File, OpenFile, PreopenDirectory, wasi } from '@bjorn3/browser_wasi_shim';

const SLICE_SIZE = 32 * 1024 * 1024;
const PROGRESS_INTERVAL_MS = 100;
const BATCH_INTERVAL_MS = 100;
const INPUT_NAME = 'input';
// A zip is pushed to the unpacker this many bytes at a time: what one push unpacks stays small.
const ZIP_PIECE = 64 * 1024;
const ZIP_DEPTH = 3;  // zips inside zips are unpacked this deep, as keldo-list unpacks archives
export const MAX_UNPACKED = 16 * 2 ** 30;
const CHECKS = ['length', 'loop', 'cut', 'text', 'flat'];
const ZIP_SIGNATURE = [0x50, 0x4b, 0x03, 0x04];
// The archives the page does not unpack, by their signatures, so that it can say so.
const OTHER_ARCHIVES = [[0, '7z\xBC\xAF\x27\x1C', '7z'], [0, 'Rar!\x1A\x07', 'RAR'], [2, '-lh', 'LHA'], [257, 'ustar', 'tar'],
                        [0, '\x1F\x8B', 'gzip'], [0, 'BZh', 'bzip2'], [0, '\xFD7zXZ\0', 'xz'], [32769, 'CD001', 'ISO 9660']];
const archiveIn = (bytes) => OTHER_ARCHIVES.find(([at, signature]) =>
    [...signature].every((c, i) => bytes[at + i] === c.charCodeAt(0)))?.[2] ?? null;

// Bytes of a file or of the bytes the page read, by slices: `read(start, end)`.
function sliceReader(file) {
    if (file instanceof Uint8Array)
        return (start, end) => file.subarray(start, end);
    const reader = new FileReaderSync();
    return (start, end) => new Uint8Array(reader.readAsArrayBuffer(file.slice(start, end)));
}

// A file read a slice at a time from where its reader was asked; `onRead` hears of each slice
// read (its end) or refused (its offset and the error).
class SlicedInput extends Fd {
    constructor(size, read, onRead) {
        super();
        Object.assign(this, { size, read, onRead, position: 0, slice: new Uint8Array(0), sliceStart: 0 });
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

// A stream of bytes pulled from `pull(size)` (null at its end, an Error when a read fails), with
// its first bytes looked at before they are read.
class Stream {
    constructor(pull) {
        Object.assign(this, { pull, held: [], ended: false, error: null });
    }

    more() {
        if (this.ended)
            return false;
        const got = this.pull(ZIP_PIECE);
        if (got instanceof Error)
            this.error = got.message;
        else if (got)
            this.held.push(got);
        this.ended = !got || got instanceof Error;
        return !this.ended;
    }

    // Whether the stream begins with `bytes`.
    startsWith(bytes) {
        while (this.held.reduce((sum, chunk) => sum + chunk.length, 0) < bytes.length && this.more());
        const head = new Uint8Array(bytes.length);
        let at = 0;
        for (const chunk of this.held) {
            head.set(chunk.subarray(0, bytes.length - at), at);
            at += Math.min(chunk.length, bytes.length - at);
        }
        return at === bytes.length && bytes.every((byte, i) => head[i] === byte);
    }

    // Up to `size` bytes, an empty array at the end, or null when a read failed.
    read(size) {
        while (this.held.length === 0 && this.more());
        if (this.held.length === 0)
            return this.error ? null : new Uint8Array(0);
        const chunk = this.held[0];
        if (chunk.length <= size)
            return this.held.shift();
        this.held[0] = chunk.subarray(size);
        return chunk.subarray(0, size);
    }
}

// keldo-list's view of a stream: read in order, never repositioned.
class StreamInput extends Fd {
    constructor(stream) {
        super();
        this.stream = stream;
    }

    fd_read(size) {
        const data = this.stream.read(size);
        return data ? { ret: wasi.ERRNO_SUCCESS, data } : { ret: wasi.ERRNO_IO, data: new Uint8Array(0) };
    }

    fd_seek() {
        return { ret: wasi.ERRNO_SPIPE, offset: 0n };
    }
}

class Input extends Inode {
    constructor(open) {
        super();
        this.open = open;
    }

    path_open() {
        const opened = this.open();
        this.opened = opened !== null;
        return opened ? { ret: wasi.ERRNO_SUCCESS, fd_obj: opened } : { ret: wasi.ERRNO_IO };
    }
}

// The run's entries as the page keeps them, gathered into batches: each entry's offset, the
// index of its different instrument (whose definitions are sent the first time it is seen) and
// its checks as bits; and the text of an input that holds no instrument.
const batch = { px: [], ids: [], doubts: [], instruments: [], sent: 0 };
const instruments = new Map();  // definitions → index, over the whole run

function send() {
    if (batch.px.length > 0) {
        const message = { type: 'entries', px: Float64Array.from(batch.px), ids: Int32Array.from(batch.ids),
                          doubts: Uint8Array.from(batch.doubts), instruments: batch.instruments };
        postMessage(message, [message.px.buffer, message.ids.buffer, message.doubts.buffer]);
        Object.assign(batch, { px: [], ids: [], doubts: [], instruments: [] });
    }
    batch.sent = performance.now();
}

function record(text, doubts) {
    const decoded = new TextDecoder().decode(text);
    const at = decoded.indexOf('\n@WT0 = {');
    if (at < 0) {
        send();
        postMessage({ type: 'output', bytes: text }, [text.buffer]);
        return;
    }
    const definitions = decoded.slice(at + 1);
    if (!instruments.has(definitions)) {
        instruments.set(definitions, instruments.size);
        batch.instruments.push(definitions);
    }
    batch.px.push(Number(decoded.slice(decoded.indexOf('; px = ') + 7, at)));
    batch.ids.push(instruments.get(definitions));
    const named = new TextDecoder().decode(doubts).split(', ');
    batch.doubts.push(CHECKS.reduce((bits, check, i) => (named.includes(check) ? bits | (1 << i) : bits), 0));
    if (performance.now() - batch.sent >= BATCH_INTERVAL_MS)
        send();
}

// keldo-list's standard output: records of two fields, each ended by a NUL.
class Records extends Fd {
    constructor() {
        super();
        this.pending = new Uint8Array(0);  // the start of a field not yet whole
        this.fields = [];
    }

    fd_write(data) {
        let bytes = new Uint8Array(this.pending.length + data.length);
        bytes.set(this.pending);
        bytes.set(data, this.pending.length);
        for (let end; (end = bytes.indexOf(0)) >= 0; bytes = bytes.subarray(end + 1)) {
            this.fields.push(bytes.slice(0, end));
            if (this.fields.length === 2)
                record(...this.fields.splice(0));
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

// Runs keldo-list on `input` (an Input) and returns its exit status as a shell sees it.
function runKeldo(module, input) {
    const fds = [
        new OpenFile(new File([])),
        new Records(),
        new OpenFile(new File([])),
        new PreopenDirectory('.', new Map([[INPUT_NAME, input]])),
    ];
    const shim = new WASI(['keldo-list', '--separate', INPUT_NAME], [], fds, { debug: false });
    const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: shim.wasiImport });
    const status = shim.start(instance) & 0xff;
    send();
    return status;
}

// Lists each member of the zip archive in `stream`, named after `prefix` (the archive's members'
// names so far, "" at the top); zips inside it too, to a depth. Returns why unpacking stopped
// early, or null.
function listZip(module, stream, prefix, depth, unpacked) {
    const queue = [];
    const unzip = new Unzip((file) => {
        const member = { name: file.name, chunks: [], done: false, error: null };
        file.ondata = (error, data, final) => {
            if (error)
                member.error = error.message;
            else if (data.length)
                member.chunks.push(data);
            member.done ||= final || Boolean(error);
        };
        try {
            file.start();
        } catch {
            Object.assign(member, { error: `compressed by method ${file.compression}, which the page does not unpack`, done: true });
        }
        queue.push(member);
    });
    unzip.register(UnzipInflate);
    let ended = false;
    let failed = null;
    // Pushes the next piece of the archive; false once it has no more.
    const pump = () => {
        if (ended)
            return false;
        const piece = stream.read(ZIP_PIECE);
        try {
            unzip.push(piece ?? new Uint8Array(0), !piece?.length);
        } catch (error) {
            failed = error.message;
        }
        failed ??= piece ? null : stream.error;
        ended = !piece?.length || failed !== null;
        return !ended;
    };
    for (;;) {
        while (queue.length === 0 && pump());
        const member = queue.shift();
        if (!member)
            break;
        if (member.name.endsWith('/'))
            continue;
        const name = `${prefix}${member.name}`;
        const pull = () => {
            while (member.chunks.length === 0 && !member.done && pump());
            if (member.error || (member.chunks.length === 0 && !member.done))
                return new Error(member.error ?? failed ?? 'the archive ends inside it');
            const chunk = member.chunks.shift() ?? null;
            unpacked.bytes += chunk?.length ?? 0;
            return unpacked.bytes > MAX_UNPACKED ? new Error(`unpacking stopped: the archive's members passed ${MAX_UNPACKED / 2 ** 30} GiB`) : chunk;
        };
        const memberStream = new Stream(pull);
        if (depth < ZIP_DEPTH && memberStream.startsWith(ZIP_SIGNATURE)) {
            failed = listZip(module, memberStream, `${name}:`, depth + 1, unpacked);
        } else {
            postMessage({ type: 'member', name });
            const input = new Input(() => new StreamInput(memberStream));
            const status = runKeldo(module, input);
            postMessage({ type: 'memberDone', status, readError: memberStream.error });
        }
        if (unpacked.bytes > MAX_UNPACKED || failed)
            return failed ?? 'unpacking stopped';
        while (!member.done && pump());  // the rest of a member keldo-list did not read
    }
    return failed;
}

// Lists file `file` (a File, or the bytes the page read of it): a zip archive's members, or its
// own bytes. Returns its exit status as a shell sees it, whether it opened (its first slice was
// read), the name of the browser's error if a read of it failed, and for a zip why unpacking it
// stopped early, if it did.
function listFile(module, file) {
    let readError = null;
    // The entries found so far go to the page before the progress past them.
    const onRead = (offset, error) => {
        if (performance.now() - batch.sent >= BATCH_INTERVAL_MS)
            send();
        if (error) {
            readError = readError ?? error.name;
        } else if (performance.now() - lastProgress >= PROGRESS_INTERVAL_MS) {
            lastProgress = performance.now();
            postMessage({ type: 'progress', offset });
        }
    };
    const sliced = new SlicedInput(file.size ?? file.byteLength, sliceReader(file), onRead);
    const opened = sliced.fill();
    if (opened && ZIP_SIGNATURE.every((byte, i) => sliced.slice[i] === byte)) {
        const zip = new Stream((size) => {
            const { ret, data } = sliced.fd_read(size);
            return ret ? new Error(readError) : data.length ? data : null;
        });
        const failed = listZip(module, zip, '', 1, { bytes: 0 });
        return { type: 'done', status: failed ? 1 : 0, opened, readError, zip: { failed } };
    }
    const archive = opened ? archiveIn(sliced.slice) : null;
    const input = new Input(() => (opened ? sliced : null));
    const status = runKeldo(module, input);
    return { type: 'done', status, opened, readError, archive };
}

// First the module and the run's files; then, for each file, its index, and its bytes where the
// page read it itself.
self.onmessage = ({ data }) => {
    if (data.files) {
        run = data;
        return;
    }
    const { index, bytes } = data;
    try {
        postMessage(listFile(run.module, bytes ? new Uint8Array(bytes) : readAhead(index) ?? run.files[index]));
    } catch (error) {
        postMessage({ type: 'failed', message: String(error?.message ?? error) });
    }
};
