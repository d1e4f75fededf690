// The list of the instruments found in the files read: one group a file, in the order read, with
// its line saying what became of it, and keldo-list's entries under it as they come, numbered
// across the whole list; one is chosen by a click or the list's keys, and shown.
import { parseInstrument } from './draw.js';
import { show } from './shown.js';
import { ui } from './ui.js';

// A file dense in tags (every fourth byte) is listed this far and no further, as is a collection:
// the list, and the page's memory, stay small whatever the files hold.
export const LIST_LIMIT = 4096;

// The files of the run, each { file, path, error, opened, output, listed, group, line }: why it
// could not be taken, if so; whether keldo-list could open it; its last entry that held no
// instrument; how many of its instruments are listed; its group and its line in the list.
// The entries listed, each { output: keldo's output for its tag, file: its file's index }; the
// one shown; whether the list was cut short; each different instrument, by its three
// definitions, with the first entry that holds it.
export const list = { files: [], entries: [], shown: -1, more: false, different: new Map() };

export function clearList() {
    Object.assign(list, { files: [], entries: [], shown: -1, more: false, different: new Map() });
    ui.instruments.replaceChildren();
    ui.instruments.removeAttribute('aria-activedescendant');
    ui.saveAll.disabled = ui.saveAllWaves.disabled = ui.saveAllFui.disabled = true;
}

// Gives each file of the run its group, its line saying `state`.
export function addFiles(files, state) {
    list.files = files.map(({ file, path, error }, index) => {
        const group = document.createElement('div');
        group.setAttribute('role', 'group');
        group.dataset.file = path;
        group.setAttribute('aria-labelledby', `file-${index}`);
        const line = group.appendChild(document.createElement('span'));
        line.id = `file-${index}`;
        line.className = 'file';
        group.appendChild(document.createElement('div')).className = 'entries';
        return { file, path, error, opened: false, output: null, listed: 0, group, line };
    });
    ui.instruments.replaceChildren(...list.files.map(({ group }) => group));
    list.files.forEach((_, index) => fileSays(index, state));
}

export function fileSays(index, state) {
    const { path, line } = list.files[index];
    line.textContent = `${path}: ${state}`;
}

// Shows listed entry `index`.
export function choose(index) {
    const item = document.getElementById(`instrument-${index}`);
    if (!item)
        return;
    ui.instruments.querySelector('[aria-selected="true"]')?.setAttribute('aria-selected', 'false');
    item.setAttribute('aria-selected', 'true');
    ui.instruments.setAttribute('aria-activedescendant', item.id);
    item.scrollIntoView({ block: 'nearest' });
    list.shown = index;
    show(list.entries[index].output, true);
}

// An entry of keldo-list for file `fileIndex`: listed when it holds an instrument and the list has
// room; kept as the file's output when it holds none (keldo's text for a file without an
// instrument, or for one that a read failed in).
export function addEntry(output, fileIndex) {
    const text = new TextDecoder('shift_jis').decode(output);
    const file = list.files[fileIndex];
    if (!parseInstrument(text)) {
        file.output = output;
        return;
    }
    if (list.entries.length === LIST_LIMIT) {
        list.more = true;  // the one past the list, asked for to tell this
        return;
    }
    const index = list.entries.push({ output, file: fileIndex }) - 1;
    file.listed += 1;
    file.opened = true;
    const definitions = text.slice(text.indexOf('\n@WT0 = {'));
    const first = list.different.get(definitions) ?? index;
    list.different.set(definitions, first);
    const item = file.group.lastChild.appendChild(document.createElement('div'));
    item.id = `instrument-${index}`;
    item.setAttribute('role', 'option');
    item.setAttribute('aria-selected', 'false');
    item.dataset.px = text.match(/^; px = (\d+)$/m)[1];
    // The offset as a hex editor shows it too, in at least eight digits.
    const hex = BigInt(item.dataset.px).toString(16).toUpperCase().padStart(8, '0');
    item.textContent = `${index}: 0x${hex} (${item.dataset.px})` + (first < index ? `, same as ${first}` : '');
    ui.saveAll.disabled = ui.saveAllWaves.disabled = ui.saveAllFui.disabled = false;
    if (index === 0)
        choose(0);
}

// The list's keys, while it has the focus: each moves to an entry and shows it.
function listKey(event) {
    const last = list.entries.length - 1;
    const to = { ArrowDown: list.shown + 1, ArrowUp: list.shown - 1, Home: 0, End: last, Enter: list.shown }[event.key];
    if (to === undefined || last < 0)
        return;
    event.preventDefault();
    choose(Math.max(0, Math.min(last, to)));
}

export function setUpList() {
    ui.instruments.addEventListener('click', (event) => {
        const item = event.target.closest('[role="option"]');
        if (item)
            choose(Number(item.id.slice('instrument-'.length)));
    });
    ui.instruments.addEventListener('keydown', listKey);
}
