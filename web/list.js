// The list of the instruments found in the file: keldo-list's entries, listed as they come;
// one is chosen by a click or the list's keys, and shown.
import { parseInstrument } from './draw.js';
import { show } from './shown.js';
import { ui } from './ui.js';

// A file dense in tags (every fourth byte) is listed this far and no further, so that the list,
// and the page's memory, stay small whatever the file holds.
export const LIST_LIMIT = 4096;

// The entries listed, each keldo's output for its tag; the first entry of the run, which may be
// keldo's text for a file without an instrument; whether the file holds more than the list; and
// each different instrument, by its three definitions, with the first entry that holds it.
export const list = { entries: [], shown: -1, first: null, more: false, different: new Map() };

export function clearList() {
    Object.assign(list, { entries: [], shown: -1, first: null, more: false, different: new Map() });
    ui.instruments.replaceChildren();
    ui.instruments.removeAttribute('aria-activedescendant');
    ui.saveAll.disabled = ui.saveAllWaves.disabled = true;
}

// Shows listed entry `index`.
export function choose(index) {
    const item = ui.instruments.children[index];
    if (!item)
        return;
    ui.instruments.querySelector('[aria-selected="true"]')?.setAttribute('aria-selected', 'false');
    item.setAttribute('aria-selected', 'true');
    ui.instruments.setAttribute('aria-activedescendant', item.id);
    item.scrollIntoView({ block: 'nearest' });
    list.shown = index;
    show(list.entries[index], true);
}

// An entry of keldo-list: the first is keldo's output for the file, shown as soon as it comes; the
// others are listed only when they hold an instrument (the last may say that a read failed).
export function addEntry(output) {
    const text = new TextDecoder('shift_jis').decode(output);
    if (!list.first) {
        list.first = output;
        show(output, false);
    }
    if (list.entries.length === LIST_LIMIT) {
        list.more = true;  // the one past the list, asked for to tell this
        return;
    }
    if (!parseInstrument(text))
        return;
    const index = list.entries.push(output) - 1;
    const definitions = text.slice(text.indexOf('\n@WT0 = {'));
    const first = list.different.get(definitions) ?? index;
    list.different.set(definitions, first);
    const item = ui.instruments.appendChild(document.createElement('li'));
    item.id = `instrument-${index}`;
    item.setAttribute('role', 'option');
    item.setAttribute('aria-selected', 'false');
    item.dataset.px = text.match(/^; px = (\d+)$/m)[1];
    // The offset as a hex editor shows it too, in at least eight digits.
    const hex = BigInt(item.dataset.px).toString(16).toUpperCase().padStart(8, '0');
    item.textContent = `${index}: 0x${hex} (${item.dataset.px})` + (first < index ? `, same as ${first}` : '');
    ui.saveAll.disabled = ui.saveAllWaves.disabled = false;
    if (index === 0)
        choose(0);
}

// The list's keys, while it has the focus: each moves to an entry and shows it.
function listKey(event) {
    const last = ui.instruments.children.length - 1;
    const to = { ArrowDown: list.shown + 1, ArrowUp: list.shown - 1, Home: 0, End: last, Enter: list.shown }[event.key];
    if (to === undefined || last < 0)
        return;
    event.preventDefault();
    choose(Math.max(0, Math.min(last, to)));
}

export function setUpList() {
    ui.instruments.addEventListener('click', (event) => {
        const item = event.target.closest('li');
        if (item)
            choose([...ui.instruments.children].indexOf(item));
    });
    ui.instruments.addEventListener('keydown', listKey);
}
