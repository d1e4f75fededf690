// The list of the instruments found in the files read: one group a file, in the order read, with
// its line saying what became of it, and its entries under it as they come, numbered across the
// whole list. However many there are, an entry keeps 17 bytes (its offset, its file, which
// different instrument it is and the checks it fails) and each different instrument its
// definitions once, and only the rows in view are drawn. One is chosen by a click or the list's
// keys, and shown; the doubtful ones can be hidden.
import { show } from './shown.js';
import { ui } from './ui.js';

export const CHECKS = ['length', 'loop', 'cut', 'text', 'flat'];
const BANNER = ';  KELDO v 0.01 by QOR\n';
const ROWS_BEYOND = 8;  // rows drawn past each edge of the view, so that scrolling shows no gap
// The list's height in the page stays below what every engine lays out (Firefox stops near 17.9
// million pixels, a third of a million rows): past it, the scroll bar moves through the rows in
// proportion, and the rows in view are drawn where they would stand.
const MAX_HEIGHT = 8e6;

// The files of the run, each { file, path, error, opened, output, listed, doubtful, line, first,
// shownFirst }: why it could not be taken, if so; whether it opened; its last entry that held no
// instrument; how many of its entries are listed, and doubtful; what its line says; its first
// entry, and its first row of entries (-1 until it is read). A member of an archive is a file of
// its own, after its archive. The entries, in typed arrays: each one's offset, file, different
// instrument and checks (one bit each, as CHECKS names them). The different instruments: each
// one's definitions and its first entry. The entries shown, when the doubtful are hidden.
export const list = {};

function empty() {
    Object.assign(list, { files: [], count: 0, px: new Float64Array(1024), fileOf: new Int32Array(1024),
                          instrumentOf: new Int32Array(1024), doubtsOf: new Uint8Array(1024), instruments: [],
                          doubtful: 0, shown: -1, hiding: ui.hideDoubtful.checked, view: new Int32Array(1024), viewCount: 0 });
}

function grown(array, size) {
    if (size <= array.length)
        return array;
    const bigger = new array.constructor(Math.max(size, 2 * array.length));
    bigger.set(array);
    return bigger;
}

// keldo's text for entry k, byte for byte what it prints for that tag.
export const entryText = (k) => `${BANNER}; px = ${list.px[k]}\n${list.instruments[list.instrumentOf[k]].definitions}`;
export const checksOf = (k) => CHECKS.filter((_, i) => list.doubtsOf[k] & (1 << i));
const isShown = (k) => !list.hiding || list.doubtsOf[k] === 0;

// Rows: each file's line, then the entries of it that are shown. A file not yet read has no
// entries and starts after every entry shown so far.
const rowCount = () => list.files.length + list.viewCount;
const firstRow = (f) => f + (list.files[f].shownFirst >= 0 ? list.files[f].shownFirst : list.viewCount);

// The file whose rows hold row `row`.
function fileAtRow(row) {
    let [low, high] = [0, list.files.length - 1];
    while (low < high) {
        const middle = (low + high + 1) >> 1;
        if (firstRow(middle) <= row)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

const rowHeight = () => Number(ui.instruments.querySelector('.rows').dataset.height);

// Where the view stands: the rows' height in all and as laid out, and the view's top among all
// the rows' pixels.
function geometry() {
    const height = rowHeight();
    const total = rowCount() * height;
    const view = ui.instruments.clientHeight;
    const laid = Math.min(total, MAX_HEIGHT);
    const ratio = laid > view ? (total - view) / (laid - view) : 1;  // of all the rows' pixels to the laid out ones
    return { height, laid, view, ratio, top: ui.instruments.scrollTop * ratio };
}

// The place, as laid out, of row `row` of the view `g`.
const placeOf = (g, row) => ui.instruments.scrollTop + row * g.height - g.top;

// Entry k's row, made again only when it was not drawn before, so that a row under the pointer
// stays the same element while the list scrolls.
function entryElement(k, row, g, drawn) {
    const item = drawn.get(`instrument-${k}`) ?? document.createElement('div');
    item.style.top = `${placeOf(g, row)}px`;
    item.setAttribute('aria-selected', String(k === list.shown));
    if (item.id)
        return item;
    item.id = `instrument-${k}`;
    item.setAttribute('role', 'option');
    item.setAttribute('aria-posinset', k + 1);
    item.setAttribute('aria-setsize', list.count);
    item.dataset.px = list.px[k];
    // The offset as a hex editor shows it too, in at least eight digits.
    const hex = list.px[k].toString(16).toUpperCase().padStart(8, '0');
    const first = list.instruments[list.instrumentOf[k]].first;
    item.textContent = `${k}: 0x${hex} (${list.px[k]})` + (first < k ? `, same as ${first}` : '');
    if (list.doubtsOf[k]) {
        item.title = `Doubtful: ${checksOf(k).join(', ')}`;
        item.append(Object.assign(document.createElement('span'), { className: 'mark', textContent: ', doubtful' }));
    }
    return item;
}

// Draws the rows in view (and the entry chosen, wherever it is, for the list's active
// descendant), each file's in a group labelled by its line.
export function draw() {
    const rows = ui.instruments.querySelector('.rows');
    const g = geometry();
    rows.style.height = `${g.laid}px`;
    const from = Math.max(0, Math.floor(g.top / g.height) - ROWS_BEYOND);
    const to = Math.min(rowCount(), Math.ceil((g.top + g.view) / g.height) + ROWS_BEYOND);
    const drawn = new Map([...rows.querySelectorAll('[role="option"]')].map((item) => [item.id, item]));
    const groups = new Map();
    const groupOf = (f) => {
        if (!groups.has(f)) {
            const group = document.createElement('div');
            group.setAttribute('role', 'group');
            group.setAttribute('aria-labelledby', `file-${f}`);
            group.dataset.file = list.files[f].path;
            const line = group.appendChild(document.createElement('span'));
            Object.assign(line, { id: `file-${f}`, className: 'file', textContent: list.files[f].line });
            line.style.top = `${placeOf(g, firstRow(f))}px`;
            groups.set(f, group);
        }
        return groups.get(f);
    };
    for (let row = from, f = to > from ? fileAtRow(from) : 0; row < to; ++row) {
        while (f + 1 < list.files.length && firstRow(f + 1) <= row)
            ++f;
        const group = groupOf(f);
        if (row > firstRow(f))
            group.append(entryElement(list.hiding ? list.view[row - firstRow(f) - 1 + list.files[f].shownFirst] : list.files[f].first + row - firstRow(f) - 1, row, g, drawn));
    }
    const shown = list.shown;
    if (shown >= 0 && isShown(shown) && !(rowOf(shown) >= from && rowOf(shown) < to)) {
        const f = list.fileOf[shown];
        groupOf(f).append(entryElement(shown, rowOf(shown), g, drawn));
    }
    rows.replaceChildren(...groups.values());
}

let drawing = 0;
// Draws once the current changes are in, not once for each.
export function redraw() {
    drawing ||= requestAnimationFrame(() => {
        drawing = 0;
        draw();
    });
}

// The row of entry k, shown.
const rowOf = (k) => firstRow(list.fileOf[k]) + 1 + viewIndex(k) - list.files[list.fileOf[k]].shownFirst;

// Where entry k stands among those shown.
function viewIndex(k) {
    if (!list.hiding)
        return k;
    let [low, high] = [0, list.viewCount - 1];
    while (low < high) {
        const middle = (low + high) >> 1;
        if (list.view[middle] < k)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

export function clearList() {
    empty();
    ui.instruments.replaceChildren(Object.assign(document.createElement('div'), { className: 'rows' }));
    ui.instruments.querySelector('.rows').dataset.height = measureRow();
    ui.instruments.removeAttribute('aria-activedescendant');
    ui.saveAll.disabled = ui.saveAllWaves.disabled = ui.saveAllFui.disabled = true;
}

// The height of a row, as the style sets it.
function measureRow() {
    const probe = ui.instruments.appendChild(Object.assign(document.createElement('div'), { className: 'rows' }));
    const row = probe.appendChild(Object.assign(document.createElement('span'), { className: 'file', textContent: 'x' }));
    const height = row.getBoundingClientRect().height || 24;
    probe.remove();
    return height;
}

const newFile = ({ file, path, error }) => ({ file, path, error, opened: false, output: null, listed: 0, doubtful: 0, line: '', first: 0, shownFirst: -1 });

// Gives each file of the run its line, saying `state`.
export function addFiles(files, state) {
    list.files = files.map(newFile);
    list.files.forEach((_, index) => fileSays(index, state));
    draw();
}

// A member of the archive that file `archive` is, after its members so far; returns its index.
export function addMember(archive, name) {
    let index = archive + 1;
    while (index < list.files.length && list.files[index].memberOf === archive)
        ++index;
    list.files.splice(index, 0, { ...newFile({ file: null, path: `${list.files[archive].path}:${name}`, error: null }), memberOf: archive });
    redraw();
    return index;
}

export function fileSays(index, state) {
    list.files[index].line = `${list.files[index].path}: ${state}`;
    redraw();
}

// Starts the entries of file `index`, the one read now.
export function startFile(index) {
    Object.assign(list.files[index], { first: list.count, shownFirst: list.viewCount });
}

// Shows listed entry `index`.
export function choose(index) {
    if (index < 0 || index >= list.count)
        return;
    list.shown = index;
    ui.instruments.setAttribute('aria-activedescendant', `instrument-${index}`);
    // The chosen row in view.
    const g = geometry();
    const top = rowOf(index) * g.height;
    if (top < g.top || top + g.height > g.top + g.view)
        ui.instruments.scrollTop = (top - g.view / 2) / g.ratio;
    draw();
    show(new TextEncoder().encode(entryText(index)), true, checksOf(index));
}

// The entries keldo-list found in file `fileIndex`: offsets, different instruments and checks;
// the definitions of those not seen before.
export function addEntries(fileIndex, { px, ids, doubts, instruments }) {
    for (const definitions of instruments)
        list.instruments.push({ definitions, first: list.count + ids.indexOf(list.instruments.length) });
    const count = list.count + px.length;
    for (const name of ['px', 'fileOf', 'instrumentOf', 'doubtsOf'])
        list[name] = grown(list[name], count);
    list.px.set(px, list.count);
    list.instrumentOf.set(ids, list.count);
    list.doubtsOf.set(doubts, list.count);
    list.fileOf.fill(fileIndex, list.count, count);
    list.view = grown(list.view, list.viewCount + px.length);
    const file = list.files[fileIndex];
    for (let k = list.count; k < count; ++k)
        if (isShown(k))
            list.view[list.viewCount++] = k;
    const doubtful = doubts.reduce((sum, bits) => sum + (bits ? 1 : 0), 0);
    file.doubtful += doubtful;
    list.doubtful += doubtful;
    file.listed += px.length;
    file.opened = true;
    const first = list.count;
    list.count = count;
    ui.saveAll.disabled = ui.saveAllWaves.disabled = ui.saveAllFui.disabled = false;
    if (first === 0 && !list.hiding)
        choose(0);
    draw();  // at once: a batch comes every tenth of a second at most
}

// Hides the doubtful entries, or shows them again: the rows are counted afresh.
function hideDoubtful() {
    list.hiding = ui.hideDoubtful.checked;
    list.viewCount = 0;
    for (const file of list.files) {
        if (file.shownFirst < 0)
            continue;
        file.shownFirst = list.viewCount;
        for (let k = file.first; k < file.first + file.listed; ++k)
            if (isShown(k))
                list.view[list.viewCount++] = k;
    }
    draw();
}

// The list's keys, while it has the focus: each moves to an entry shown and shows it.
function listKey(event) {
    const page = Math.max(1, Math.floor(ui.instruments.clientHeight / rowHeight()) - 1);
    const at = list.shown >= 0 && isShown(list.shown) ? viewIndex(list.shown) : -1;
    const to = { ArrowDown: at + 1, ArrowUp: at - 1, PageDown: at + page, PageUp: at - page, Home: 0, End: list.viewCount - 1, Enter: at }[event.key];
    if (to === undefined || list.viewCount === 0)
        return;
    event.preventDefault();
    const index = Math.max(0, Math.min(list.viewCount - 1, to));
    choose(list.hiding ? list.view[index] : index);
}

export function setUpList() {
    clearList();
    ui.instruments.addEventListener('click', (event) => {
        const item = event.target.closest('[role="option"]');
        if (item)
            choose(Number(item.id.slice('instrument-'.length)));
    });
    ui.instruments.addEventListener('keydown', listKey);
    ui.instruments.addEventListener('scroll', redraw);
    ui.hideDoubtful.addEventListener('change', hideDoubtful);
}
