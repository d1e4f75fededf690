// The files of a run, each { file, path }: its path within what was given (a folder's files under
// its name, subfolders followed down), in the order of their paths, whether they come from the
// file box, the folder box, a drop or the system's "open with". Two folders of one name dropped
// together give two files of one path: both are listed, neither is lost.
const byPath = (a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0);

const ordered = (files) => files.sort(byPath);

// The files of an <input type="file">, the folder box's under the folder's name.
export const fromInput = (input) => ordered([...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name })));

// A dropped folder or file, as a handle (where the browser gives one: Chromium lets a page opened
// from the disk read a dropped folder only so) or as an entry.
const fromHandle = (handle) => ({
    name: handle.name,
    isFolder: handle.kind === 'directory',
    file: () => handle.getFile(),
    async children() {
        const found = [];
        for await (const child of handle.values())
            found.push(fromHandle(child));
        return found;
    },
});
const fromEntry = (entry) => ({
    name: entry.name,
    isFolder: entry.isDirectory,
    file: () => new Promise((resolve, reject) => entry.file(resolve, reject)),
    async children() {
        const reader = entry.createReader();
        const found = [];
        for (let batch; (batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject))).length > 0;)
            found.push(...batch.map(fromEntry));
        return found;
    },
});

// A file at `path` that could not be read: an empty stand-in that says why.
const unreadable = (path, error, name = path) => ({ file: new File([], name), path, error });

// Every file under a dropped folder; one that cannot be read is kept as a file that cannot be
// read, so that it is reported rather than left out.
async function filesUnder(node, path) {
    try {
        if (!node.isFolder)
            return [{ file: await node.file(), path }];
        return (await Promise.all((await node.children()).map((child) => filesUnder(child, `${path}/${child.name}`)))).flat();
    } catch (error) {
        return [unreadable(path, error.name, node.name)];
    }
}

// A dropped file that has no entry: one made by a script, or one that cannot be read, which a
// read of its first byte tells apart (of an empty one, of all of it: Chromium reads no file for
// an empty slice, and gives a file it cannot find as an empty one).
async function droppedFile(file) {
    try {
        await (file.size === 0 ? file : file.slice(0, 1)).arrayBuffer();
        return { file, path: file.name };
    } catch (error) {
        return unreadable(file.name, error.name);
    }
}

// The files and folders of a drop. The items must be taken while the drop event lasts.
export async function fromDrop(dataTransfer) {
    const items = [...dataTransfer.items].filter((item) => item.kind === 'file').map((item) => ({
        handle: item.getAsFileSystemHandle?.().catch(() => null), entry: item.webkitGetAsEntry?.(), file: item.getAsFile() }));
    const found = await Promise.all(items.map(async ({ handle, entry, file }) => {
        if (!file)
            return [unreadable(entry?.name ?? 'a dropped file', 'NotReadableError')];
        if (!entry)
            return [await droppedFile(file)];
        if (!entry.isDirectory)
            return [{ file, path: file.name }];
        const folder = await handle;
        return filesUnder(folder ? fromHandle(folder) : fromEntry(entry), entry.name);
    }));
    return ordered(found.flat());
}

// The files the system opened the page with.
export async function fromLaunch({ files }) {
    return ordered(await Promise.all(files.filter((handle) => handle.kind === 'file')
        .map(async (handle) => ({ file: await handle.getFile(), path: handle.name }))));
}
