// Runs keldo.wasm on one chosen file, in a worker so that the page stays responsive. The module
// sees the file as "input" in its current folder and reads it through the stream buffer it always
// uses; those reads are served from one slice of the file at a time, read when first needed, so
// memory does not grow with the file. A read the browser refuses is the module's read error, and
// keldo reports it as it reports any unreadable file.
import { WASI, Fd, Inode, File, OpenFile, PreopenDirectory, wasi } from './shim/index.js';

const SLICE_SIZE = 32 * 1024 * 1024;
const PROGRESS_INTERVAL_MS = 100;
const INPUT_NAME = 'input';

// The chosen file, read through FileReaderSync one slice at a time.
class ChosenFile extends Inode {
    constructor(file, onRead) {
        super();
        this.file = file;
        this.onRead = onRead;
    }

    path_open() {
        return { ret: wasi.ERRNO_SUCCESS, fd_obj: new OpenChosenFile(this.file, this.onRead) };
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
        this.reader = new FileReaderSync();
    }

    fd_read(size) {
        const file = this.file;
        const inSlice = this.position - this.sliceStart;
        if (this.position < file.size && (inSlice < 0 || inSlice >= this.slice.length)) {
            try {
                const end = Math.min(this.position + SLICE_SIZE, file.size);
                this.slice = new Uint8Array(this.reader.readAsArrayBuffer(file.slice(this.position, end)));
                this.sliceStart = this.position;
            } catch (error) {
                this.onRead(this.position, error);
                return { ret: wasi.ERRNO_IO, data: new Uint8Array(0) };
            }
            this.onRead(this.sliceStart + this.slice.length, null);
        }
        const from = this.position - this.sliceStart;
        const data = this.slice.subarray(from, Math.min(from + size, this.slice.length));
        this.position += data.length;
        return { ret: wasi.ERRNO_SUCCESS, data };
    }

    fd_seek(offset, whence) {
        const base = { [wasi.WHENCE_SET]: 0, [wasi.WHENCE_CUR]: this.position, [wasi.WHENCE_END]: this.file.size };
        const position = base[whence] + Number(offset);
        if (!(position >= 0))
            return { ret: wasi.ERRNO_INVAL, offset: BigInt(this.position) };
        this.position = position;
        return { ret: wasi.ERRNO_SUCCESS, offset: BigInt(position) };
    }
}

// Standard output or error, kept as the bytes written.
class Output extends Fd {
    constructor() {
        super();
        this.chunks = [];
    }

    fd_write(data) {
        this.chunks.push(data.slice());
        return { ret: wasi.ERRNO_SUCCESS, nwritten: data.byteLength };
    }

    bytes() {
        const bytes = new Uint8Array(this.chunks.reduce((total, chunk) => total + chunk.length, 0));
        let at = 0;
        for (const chunk of this.chunks) {
            bytes.set(chunk, at);
            at += chunk.length;
        }
        return bytes;
    }
}

// Runs keldo on `file` and returns its output, its exit status as a shell sees it, and the name
// of the browser's error if a read of the file failed.
function runKeldo(module, file) {
    let readError = null;
    let lastProgress = 0;
    const onRead = (offset, error) => {
        if (error) {
            readError = readError ?? error.name;
        } else if (performance.now() - lastProgress >= PROGRESS_INTERVAL_MS) {
            lastProgress = performance.now();
            postMessage({ type: 'progress', offset });
        }
    };
    const stdout = new Output();
    const fds = [
        new OpenFile(new File([])),
        stdout,
        new Output(),
        new PreopenDirectory('.', new Map([[INPUT_NAME, new ChosenFile(file, onRead)]])),
    ];
    const shim = new WASI(['keldo', INPUT_NAME], [], fds, { debug: false });
    const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: shim.wasiImport });
    const status = shim.start(instance) & 0xff;
    return { type: 'done', output: stdout.bytes(), status, readError };
}

self.onmessage = ({ data: { module, file } }) => {
    try {
        postMessage(runKeldo(module, file));
    } catch (error) {
        postMessage({ type: 'failed', message: String(error?.message ?? error) });
    }
};
