// Runs a WASI command module under Node as if it were a native command: its arguments, standard
// input, output and error, and its exit status (-1 is 255, as a POSIX shell sees it). The module
// sees the current folder, and the folder holding each argument, by the names the command line
// gives them; nothing else of the file system.
//   node --no-warnings scripts/wasi-run.mjs build-wasm/keldo.wasm samples/demo.bin
import { existsSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { WASI } from 'node:wasi';

const [modulePath, ...args] = process.argv.slice(2);
const folders = ['.', ...args.map((arg) => path.dirname(arg))].filter((folder) => existsSync(folder));
const preopens = Object.fromEntries(folders.map((folder) => [folder, path.resolve(folder)]));
const wasi = new WASI({
    version: 'preview1',
    args: [path.basename(modulePath, '.wasm'), ...args],
    env: {},
    preopens,
    returnOnExit: true,
});
const module = await WebAssembly.compile(await readFile(modulePath));
process.exitCode = wasi.start(await WebAssembly.instantiate(module, wasi.getImportObject())) & 0xff;
